#pragma once
// How a quarantine run is laid out and written, shared by the Quarantine that keeps things, the
// manifest reader that reads them back (QuarantineManifest) and the Restorer that puts them back
// (and documented for people in tools/lkscan/README.md).
//
// A run folder holds, for the n-th kept thing, its record "NNNN.json" (written and flushed before
// the thing is changed) and for a file its transformed copy "NNNN.lkq"; and "manifest.json", the
// whole run in one document, rewritten after every keep. Without a rename the rewrite is a delete
// and a create: a crash between the two leaves the records, from which a restore rebuilds the
// list, so nothing already removed is ever without its description.
//
// Copies are stored transformed, so that no scanner (ours included) recognises the trojan in the
// quarantine: each byte at offset n is XORed with (151 * (n mod 256) + 89) mod 256. The
// transform is its own inverse.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "system/FileSystem.h"
#include "system/SystemAccess.h"

namespace lk::quarantine_format {

using Json = nlohmann::ordered_json;

inline constexpr std::string_view kManifestName = "manifest.json";
inline constexpr std::string_view kFormat = "lkscan-quarantine";
inline constexpr int kFormatVersion = 1;
// The service keys that a run keeps live here (native view).
inline constexpr std::string_view kServicesKey = "SYSTEM\\CurrentControlSet\\Services";

// Limits against a hostile registry and a hostile manifest.
inline constexpr std::size_t kMaxItems = 1000;                  // kept things per run
inline constexpr std::size_t kMaxValueBytes = 1024 * 1024;      // one registry value's data
inline constexpr int kMaxTreeDepth = 8;                         // subkey levels below a service key
inline constexpr std::size_t kMaxTreeKeys = 512;                // keys in one service tree
inline constexpr std::size_t kMaxTreeValues = 4096;             // values in one service tree
inline constexpr std::size_t kMaxTreeBytes = 16 * 1024 * 1024;  // value data in one service tree
inline constexpr std::size_t kMaxNameBytes = 32767;             // a path, key or value name
inline constexpr std::int64_t kMaxManifestBytes = 64 * 1024 * 1024;  // manifest.json
inline constexpr std::int64_t kMaxRecordBytes = 32 * 1024 * 1024;    // one NNNN.json

// XORs length bytes in place that stand at offset of a stored copy (offset >= 0).
void Transform(char* data, std::size_t length, std::int64_t offset) noexcept;
// Reads a copy back as the bytes of the original, as ReadExtents does: data untransformed, and a
// hole of the copy as a hole of zeros of the original (a copy keeps the original's holes).
[[nodiscard]] std::uint32_t ReadOriginal(
    ReadableFile& copy, std::size_t block,
    const std::function<std::uint32_t(std::int64_t offset, const char* data, std::int64_t length)>&
        piece,
    std::int64_t* size);

// The record name and the copy name of the n-th kept thing (1-based): "0001.json", "0001.lkq".
[[nodiscard]] std::string RecordName(std::size_t number);
[[nodiscard]] std::string CopyName(std::size_t number);

// The view as the manifest names it: "64" (the native view), "32", "default".
[[nodiscard]] const char* ViewName(RegistryView view);
[[nodiscard]] std::optional<RegistryView> ViewFromName(std::string_view name);

// A typed value as manifest fields: "type" (the Windows number), "encoding" ("text" for string
// types whose bytes are UTF-8, NULs included; else "hex") and "data".
void PutValue(Json& record, const RegistryValue& value);
// A value as the registry stores it, as the same fields: "text" where the seam's UTF-8 text gives
// exactly the stored bytes back, else "stored" (string types: the stored UTF-16LE bytes in hex,
// a lone surrogate, an odd byte or a missing NUL and all) or "hex" (every other type).
void PutStoredValue(Json& record, const StoredRegistryValue& value);
// A kept value, in the form it is to be written back in.
struct KeptValue {
  RegistryValue value;                        // the seam's form ("text" and "hex")
  std::optional<StoredRegistryValue> stored;  // the stored bytes ("stored"); value is then unused
};
// The value the fields describe; no value (with a German reason) when they are not valid.
[[nodiscard]] std::optional<KeptValue> GetValue(const Json& record, std::string* error);

// Whether the text is valid UTF-8 (JSON holds nothing else).
[[nodiscard]] bool IsUtf8(std::string_view text);
// The run folder's name for a UTC time given in seconds since 1970: "20261209T231501Z".
[[nodiscard]] std::string RunName(std::int64_t unixSeconds);

}  // namespace lk::quarantine_format
