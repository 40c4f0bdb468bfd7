# Writes an empty hive: a base block and one bin holding the root key and its security cell.
use strict;
my ($path) = @ARGV;
my $bin = "hbin" . pack("VV", 0, 4096) . ("\0" x 20);
# root key cell at offset 32: nk, flags 0x2C, name "ROOT"
my $name = "ROOT";
my $nk = "nk" . pack("v", 0x2C) . ("\0" x 8) . pack("V", 0) . pack("V", 0)
  . pack("VVVVVVVV", 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF)
  . pack("VVVVV", 0, 0, 0, 0, 0) . pack("vv", length($name), 0) . $name;
my $nksize = (4 + length($nk) + 7) & ~7;
my $sd = pack("CCvVVVV", 1, 0, 0x8004, 0, 0, 0, 0);
my $skoff = 32 + $nksize;
my $sk = "sk" . pack("v", 0) . pack("VVVV", $skoff, $skoff, 1, length($sd)) . $sd;
my $sksize = (4 + length($sk) + 7) & ~7;
substr($nk, 44, 4) = pack("V", $skoff);
my $cells = pack("l", -$nksize) . $nk . ("\0" x ($nksize - 4 - length($nk)))
  . pack("l", -$sksize) . $sk . ("\0" x ($sksize - 4 - length($sk)));
my $free = 4096 - 32 - length($cells);
$bin .= $cells . pack("l", $free) . ("\0" x ($free - 4));
my $base = "regf" . pack("VV", 1, 1) . ("\0" x 8) . pack("VVVV", 1, 5, 0, 1) . pack("VVV", 32, 4096, 1);
$base .= "\0" x (508 - length($base));
my $sum = 0;
$sum ^= $_ for unpack("V127", $base);
$sum = 1 if $sum == 0;
$sum = 0xFFFFFFFE if $sum == 0xFFFFFFFF;
$base .= pack("V", $sum) . ("\0" x (4096 - 512));
open(my $out, ">:raw", $path) or die "$path: $!";
print $out $base . $bin;
close $out;
