#include "base/WindowsErrorTexts.h"

#include <algorithm>
#include <iterator>

#include "base/WindowsError.h"

namespace lk {

namespace {

namespace e = win_error;

struct ErrorTexts {
  std::uint32_t code;
  std::string_view englishMessage;
  std::string_view germanMessage;
  std::string_view englishReason;
  std::string_view germanReason;
};

// Sorted by code.
constexpr ErrorTexts kTexts[] = {
    {e::kSuccess, "The operation completed successfully.\r\n",
     "Der Vorgang wurde erfolgreich beendet", "", ""},
    {e::kInvalidFunction, "Incorrect function.\r\n", "", "", ""},
    {e::kFileNotFound, "The system cannot find the file specified.\r\n",
     "Das System kann die angegebene Datei nicht finden", "does not exist", "existiert nicht"},
    {e::kPathNotFound, "The system cannot find the path specified.\r\n",
     "Das System kann den angegebenen Pfad nicht finden", "does not exist", "existiert nicht"},
    {e::kTooManyOpenFiles, "", "", "too many open files", "zu viele offene Dateien"},
    {e::kAccessDenied, "Access is denied.\r\n", "Zugriff verweigert", "access denied",
     "Zugriff verweigert"},
    {e::kInvalidHandle, "The handle is invalid.\r\n", "Das Handle ist ungültig", "", ""},
    {e::kReadFault, "", "", "read error", "Lesefehler"},
    {e::kSharingViolation,
     "The process cannot access the file because it is being used by another process.\r\n", "",
     "in use by another program", "von einem anderen Programm gesperrt"},
    {e::kDuplicateName, "", "", "on the way, folders whose names differ only in case",
     "auf dem Weg Ordner, deren Namen sich nur in der Schreibung unterscheiden"},
    {e::kInvalidParameter, "The parameter is incorrect.\r\n", "", "", ""},
    {e::kCallNotImplemented, "", "offline nicht anwendbar: die Installation läuft nicht", "", ""},
    {e::kInvalidName, "The filename, directory name, or volume label syntax is incorrect.\r\n", "",
     "name holds a backslash (not a valid Windows name)",
     "Name mit Backslash (kein gültiger Windows-Name)"},
    {e::kProcNotFound, "The specified procedure could not be found.\r\n", "", "", ""},
    {e::kFilenameTooLong, "", "", "path too long", "Pfad zu lang"},
    {e::kFileTooLarge, "", "", "too large", "zu groß"},
    {e::kNotADirectory, "", "", "not a directory", "kein Ordner"},
    {e::kRegistryCorrupt, "", "Eine Registrierungsdatei ist beschädigt", "", ""},
    {e::kKeyDeleted,
     "Illegal operation attempted on a registry key that has been marked for deletion.\r\n",
     "Der Registrierungsschlüssel wurde gelöscht", "", ""},
    {e::kInvalidServiceControl, "The requested control is not valid for this service.\r\n", "", "",
     ""},
    {e::kServiceDoesNotExist, "The specified service does not exist as an installed service.\r\n",
     "Der angegebene Dienst ist kein installierter Dienst", "", ""},
    {e::kServiceCannotAcceptCtrl, "The service cannot accept control messages at this time.\r\n",
     "", "", ""},
    {e::kServiceNotActive, "The service has not been started.\r\n",
     "Der Dienst wurde nicht gestartet", "", ""},
    {e::kServiceMarkedForDelete, "The specified service has been marked for deletion.\r\n", "", "",
     ""},
    {e::kServiceExists, "", "Der angegebene Dienst ist bereits vorhanden", "", ""},
    {e::kUnsupportedType, "Data of this type is not supported.\r\n",
     "Der Werttyp wird nicht unterstützt", "", ""},
    {e::kNotARegularFile, "", "", "not a regular file (pipe, socket or device)",
     "keine gewöhnliche Datei (Pipe, Socket oder Gerät)"},
    {e::kLinkNotFollowed, "", "", "symbolic link, not followed",
     "symbolische Verknüpfung, nicht verfolgt"},
};

static_assert(std::is_sorted(std::begin(kTexts), std::end(kTexts),
                             [](const ErrorTexts& a, const ErrorTexts& b) {
                               return a.code < b.code;
                             }),
              "the table is searched by halves");

const ErrorTexts* Find(std::uint32_t code) noexcept {
  const auto* it = std::lower_bound(
      std::begin(kTexts), std::end(kTexts), code,
      [](const ErrorTexts& row, std::uint32_t wanted) { return row.code < wanted; });
  return it != std::end(kTexts) && it->code == code ? it : nullptr;
}

}  // namespace

std::string_view EnglishSystemMessage(std::uint32_t code) noexcept {
  const ErrorTexts* row = Find(code);
  return row != nullptr ? row->englishMessage : std::string_view();
}

std::string_view GermanSystemMessage(std::uint32_t code) noexcept {
  const ErrorTexts* row = Find(code);
  return row != nullptr ? row->germanMessage : std::string_view();
}

std::string_view EnglishFileReason(std::uint32_t code) noexcept {
  const ErrorTexts* row = Find(code);
  return row != nullptr ? row->englishReason : std::string_view();
}

std::string_view GermanFileReason(std::uint32_t code) noexcept {
  const ErrorTexts* row = Find(code);
  return row != nullptr ? row->germanReason : std::string_view();
}

}  // namespace lk
