#include "winhelpers/hresult.h"

#include <new>
#include <stdexcept>

namespace Basalt {

HRESULT HResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace Basalt
