#include "quarantine/QuarantineFormat.h"

#include "base/Utf8.h"

namespace lk::quarantine_format {

void Transform(char* data, std::size_t length, std::int64_t offset) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const auto position = static_cast<std::uint64_t>(offset) + i;
    const auto key = static_cast<unsigned char>((151U * (position % 256U) + 89U) % 256U);
    data[i] = static_cast<char>(static_cast<unsigned char>(data[i]) ^ key);
  }
}

std::uint32_t ReadOriginal(ReadableFile& copy, std::size_t block,
                           const std::function<std::uint32_t(std::int64_t offset, const char* data,
                                                             std::int64_t length)>& piece,
                           std::int64_t* size) {
  std::string plain;
  return ReadExtents(
      copy, block,
      [&](std::int64_t offset, const char* data, std::int64_t length) -> std::uint32_t {
        if (data == nullptr) return piece(offset, nullptr, length);
        plain.assign(data, static_cast<std::size_t>(length));
        Transform(plain.data(), plain.size(), offset);
        return piece(offset, plain.data(), length);
      },
      size);
}

namespace {

// The number with at least width digits, zeros in front.
std::string Padded(std::int64_t number, std::size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string Numbered(std::size_t number, const char* extension) {
  return Padded(static_cast<std::int64_t>(number), 4) + "." + extension;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    hex.push_back(kDigits[value >> 4]);
    hex.push_back(kDigits[value & 0xF]);
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string RecordName(std::size_t number) { return Numbered(number, "json"); }
std::string CopyName(std::size_t number) { return Numbered(number, "lkq"); }

const char* ViewName(RegistryView view) {
  switch (view) {
    case RegistryView::Native:
      return "64";
    case RegistryView::Wow32:
      return "32";
    case RegistryView::Default:
      break;
  }
  return "default";
}

std::optional<RegistryView> ViewFromName(std::string_view name) {
  if (name == "64") return RegistryView::Native;
  if (name == "32") return RegistryView::Wow32;
  if (name == "default") return RegistryView::Default;
  return std::nullopt;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void PutValue(Json& record, const RegistryValue& value) {
  record["type"] = static_cast<std::uint32_t>(value.type);
  if (HoldsText(value.type) && IsUtf8(value.data)) {
    record["encoding"] = "text";
    record["data"] = value.data;
  } else {
    record["encoding"] = "hex";
    record["data"] = Hex(value.data);
  }
}

void PutStoredValue(Json& record, const StoredRegistryValue& value) {
  if (!HoldsText(value.type)) {
    PutValue(record, RegistryValue{value.type, value.bytes});
    return;
  }
  std::u16string units;
  for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(value.bytes[i]) |
                                          (static_cast<unsigned char>(value.bytes[i + 1]) << 8U)));
  }
  const std::string text = Utf8FromUtf16(units);
  std::string again;
  for (const char16_t unit : Utf16FromUtf8(text)) {
    again.push_back(static_cast<char>(unit & 0xFFU));
    again.push_back(static_cast<char>(unit >> 8U));
  }
  record["type"] = static_cast<std::uint32_t>(value.type);
  if (again == value.bytes) {
    record["encoding"] = "text";
    record["data"] = text;
  } else {
    record["encoding"] = "stored";
    record["data"] = Hex(value.bytes);
  }
}

std::optional<KeptValue> GetValue(const Json& record, std::string* error) {
  const auto fail = [&](const char* why) -> std::optional<KeptValue> {
    *error = why;
    return std::nullopt;
  };
  const auto type = record.find("type");
  const auto encoding = record.find("encoding");
  const auto data = record.find("data");
  if (type == record.end() || !type->is_number_unsigned() ||
      type->get<std::uint64_t>() > 0xFFFFFFFFU) {
    return fail("Typ des Werts fehlt oder ist ungültig");
  }
  if (encoding == record.end() || !encoding->is_string() || data == record.end() ||
      !data->is_string()) {
    return fail("Daten des Werts fehlen");
  }
  const auto& text = data->get_ref<const std::string&>();
  RegistryValue value;
  value.type = static_cast<RegistryValueType>(type->get<std::uint32_t>());
  if (*encoding == "text") {
    if (!HoldsText(value.type)) return fail("Text als Daten eines Werts ohne Texttyp");
    if (text.size() > kMaxValueBytes) return fail("Daten des Werts zu groß");
    value.data = text;
    return KeptValue{value, std::nullopt};
  }
  const bool stored = *encoding == "stored";
  if (!stored && *encoding != "hex") return fail("unbekannte Kodierung der Daten");
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxValueBytes) {
    return fail("Daten des Werts ungültig oder zu groß");
  }
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return fail("Daten des Werts sind kein Hexadezimaltext");
    value.data.push_back(static_cast<char>(high * 16 + low));
  }
  if (stored) return KeptValue{{}, StoredRegistryValue{value.type, std::move(value.data)}};
  return KeptValue{value, std::nullopt};
}

std::string RunName(std::int64_t unixSeconds) {
  // The civil date of a day count (Howard Hinnant's days-to-civil), without the C library's
  // time zone state.
  std::int64_t days = unixSeconds / 86400;
  std::int64_t second = unixSeconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return Padded(year, 4) + Padded(month, 2) + Padded(day, 2) + "T" + Padded(second / 3600, 2) +
         Padded(second / 60 % 60, 2) + Padded(second % 60, 2) + "Z";
}

}  // namespace lk::quarantine_format
