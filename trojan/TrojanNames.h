#pragma once
// The names and places of the trojan's known version: its registry keys and values under
// HKEY_LOCAL_MACHINE, its two files and its service. Facts about the trojan, shared by the
// window's run, the console scan and the quarantine's restore; not wording, so not in a text
// table. The strings the trojan itself carries stay scrambled (Signatures.h, SweepExpressions.h).

#include <string_view>

namespace lk::names {

// Where the known version installs itself (registry paths under HKEY_LOCAL_MACHINE).
inline constexpr std::string_view kServicesKey = "SYSTEM\\CurrentControlSet\\services";
inline constexpr std::string_view kServiceKey = "SYSTEM\\CurrentControlSet\\services\\winsys32";
inline constexpr std::string_view kImagePathValue = "ImagePath";
inline constexpr std::string_view kWindowsKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
inline constexpr std::string_view kAppInitValue = "AppInit_DLLs";
inline constexpr std::string_view kLibraryFile = "mfc42ul.dll";
inline constexpr std::string_view kDriverFile = "winsys32.sys";
inline constexpr std::string_view kServiceName = "winsys32";
inline constexpr std::string_view kDriversSubdirectory = "Drivers";

}  // namespace lk::names
