#pragma once
// The Windows error codes this system gives a meaning of its own, in one place.
//
// Every layer reports failure with these numbers, also where no Windows runs (the offline and
// image layers, the POSIX file layer, the scripted system), so a caller tells a refusal from a
// missing file the same way on every system. Their texts are in WindowsErrorTexts.h.

#include <cstdint>

namespace lk::win_error {

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kWriteFault = 29;
inline constexpr std::uint32_t kReadFault = 30;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kNotSupported = 50;
inline constexpr std::uint32_t kDuplicateName = 52;  // folders twinned by case
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kCallNotImplemented = 120;
inline constexpr std::uint32_t kInvalidName = 123;
inline constexpr std::uint32_t kProcNotFound = 127;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
inline constexpr std::uint32_t kMoreData = 234;
inline constexpr std::uint32_t kFileTooLarge = 223;   // ERROR_FILE_TOO_LARGE
inline constexpr std::uint32_t kNotADirectory = 267;  // ERROR_DIRECTORY
inline constexpr std::uint32_t kRegistryCorrupt = 1015;
inline constexpr std::uint32_t kKeyDeleted = 1018;
inline constexpr std::uint32_t kInvalidServiceControl = 1052;
inline constexpr std::uint32_t kServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kServiceCannotAcceptCtrl = 1061;
inline constexpr std::uint32_t kServiceNotActive = 1062;
inline constexpr std::uint32_t kServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kServiceExists = 1073;
inline constexpr std::uint32_t kUnsupportedType = 1630;
inline constexpr std::uint32_t kNotARegularFile = 1920;  // ERROR_CANT_ACCESS_FILE
inline constexpr std::uint32_t kLinkNotFollowed = 1921;  // ERROR_CANT_RESOLVE_FILENAME

}  // namespace lk::win_error
