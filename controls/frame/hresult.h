// The COM result codes the module and the frame answer with.
#pragma once

#include <cstdint>

namespace tamsolo {

using HRESULT = int32_t;

namespace hr {
inline constexpr HRESULT kOk = 0;
inline constexpr HRESULT kFalse = 1;
inline constexpr HRESULT kNotImpl = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT kSelfRegClass = static_cast<HRESULT>(0x80040201);  // SELFREG_E_CLASS
}  // namespace hr

inline bool Failed(HRESULT h) { return h < 0; }

}  // namespace tamsolo
