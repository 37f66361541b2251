// SHA-256 through CNG (bcrypt.dll), loaded at run time from the system folder. The incremental
// calls (BCryptCreateHash, BCryptHashData, BCryptFinishHash) rather than the one-shot BCryptHash:
// a file is hashed block by block, and they exist on every supported Windows version.

#include <windows.h>

#include <bcrypt.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "system/Sha256.h"
#include "system/win/UniqueHandle.h"
#include "win32/RuntimeLibrary.h"
#include "win32/Utf.h"

namespace lk {

namespace {

struct BcryptFunctions {
  static constexpr const wchar_t* kFileName = L"bcrypt.dll";
  explicit BcryptFunctions(SystemLibrary& library) {
    library.Bind(OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider");
    library.Bind(CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider");
    library.Bind(CreateHash, "BCryptCreateHash");
    library.Bind(HashData, "BCryptHashData");
    library.Bind(FinishHash, "BCryptFinishHash");
    library.Bind(DestroyHash, "BCryptDestroyHash");
  }
  decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&::BCryptCreateHash) CreateHash = nullptr;
  decltype(&::BCryptHashData) HashData = nullptr;
  decltype(&::BCryptFinishHash) FinishHash = nullptr;
  decltype(&::BCryptDestroyHash) DestroyHash = nullptr;
};

using Bcrypt = RuntimeLibrary<BcryptFunctions>;

[[noreturn]] void Fail(const char* call, NTSTATUS status) {
  std::ostringstream text;
  text << "SHA-256: " << call << " failed (CNG status 0x" << std::hex << std::uppercase
       << static_cast<unsigned long>(status) << ")";
  throw std::runtime_error(text.str());
}

// The algorithm provider and the hash object, closed through the loaded library.
struct AlgorithmTraits : WindowsHandleTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { Bcrypt::Shared()->CloseAlgorithmProvider(value, 0); }
};
struct HashTraits : WindowsHandleTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { Bcrypt::Shared()->DestroyHash(value); }
};

}  // namespace

struct Sha256::Impl {
  Impl() {
    const Bcrypt& bcrypt = Bcrypt::Shared();
    if (!bcrypt) throw std::runtime_error("SHA-256: " + Utf8FromWide(bcrypt.Error()));
    const NTSTATUS status =
        bcrypt->OpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptOpenAlgorithmProvider", status);
    Start();
  }

  void Start() {
    // No object buffer: CNG allocates the hash object itself (Windows 7 and later).
    const NTSTATUS status =
        Bcrypt::Shared()->CreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptCreateHash", status);
  }

  // Declared in the order of opening: the hash goes first.
  UniqueHandle<AlgorithmTraits> algorithm;
  UniqueHandle<HashTraits> hash;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
  const Bcrypt& bcrypt = Bcrypt::Shared();
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  // CNG takes at most 4 GiB - 1 per call.
  while (length > 0) {
    const ULONG chunk = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
    const NTSTATUS status = bcrypt->HashData(impl_->hash.Get(), bytes, chunk, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptHashData", status);
    bytes += chunk;
    length -= chunk;
  }
}

Sha256::Digest Sha256::Finish() {
  const Bcrypt& bcrypt = Bcrypt::Shared();
  Digest digest{};
  const NTSTATUS status =
      bcrypt->FinishHash(impl_->hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  if (!BCRYPT_SUCCESS(status)) Fail("BCryptFinishHash", status);
  impl_->hash.Reset();
  impl_->Start();
  return digest;
}

}  // namespace lk
