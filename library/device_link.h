// The calls through which the reader reaches a handheld's file system and
// registry, shaped after the handheld's remote API: a connection that is
// started and then signalled, handles for finds, files and registry keys,
// and a last-error code.
//
// Device paths are relative to the device's root and use "\" (a leading
// "\" is allowed); names are UTF-8.
//
// Call order: CeRapiInitEx, wait for RapiInit::heRapiInit, the file and
// registry calls, CeRapiUninit. CeRapiUninit ends the connection and closes
// every handle still open; later calls fail until the next CeRapiInitEx.
// REQUIRES: implementations are thread-safe: a window cancels a transfer
// (CeRapiUninit) from its own thread while another thread copies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "library/device_event.h"

namespace fvx::library {

using CeHandle = int64_t;
inline constexpr CeHandle kInvalidCeHandle = -1;
using CeKey = int64_t;
inline constexpr CeKey kCeHkeyLocalMachine = 0x80000002;

// File attributes as the handheld reports them.
inline constexpr uint32_t kCeAttributeReadOnly = 0x01;
inline constexpr uint32_t kCeAttributeHidden = 0x02;
inline constexpr uint32_t kCeAttributeDirectory = 0x10;
inline constexpr uint32_t kCeAttributeNormal = 0x80;
inline constexpr uint32_t kCeAttributeTemporary = 0x100;  // with Directory: a storage card

// CeCreateFile arguments.
inline constexpr uint32_t kCeGenericWrite = 0x40000000;
inline constexpr uint32_t kCeCreateAlways = 2;
inline constexpr uint32_t kCeOpenExisting = 3;

// Error codes (CeGetLastError and the registry calls' results).
inline constexpr uint32_t kCeErrorSuccess = 0;
inline constexpr uint32_t kCeErrorFileNotFound = 2;
inline constexpr uint32_t kCeErrorPathNotFound = 3;
inline constexpr uint32_t kCeErrorAccessDenied = 5;
inline constexpr uint32_t kCeErrorInvalidHandle = 6;
inline constexpr uint32_t kCeErrorNoMoreFiles = 18;
inline constexpr uint32_t kCeErrorGeneralFailure = 31;
inline constexpr uint32_t kCeErrorFileExists = 80;  // the file exists and cannot be replaced
inline constexpr uint32_t kCeErrorInvalidParameter = 87;
inline constexpr uint32_t kCeErrorDiskFull = 112;
inline constexpr uint32_t kCeErrorInvalidName = 123;
inline constexpr uint32_t kCeErrorAlreadyExists = 183;
inline constexpr uint32_t kCeErrorMoreData = 234;
inline constexpr uint32_t kCeErrorNoMoreItems = 259;
inline constexpr uint32_t kCeErrorDeviceNotConnected = 1167;

struct RapiInit {
  uint32_t cbSize = 12;
  DeviceEvent heRapiInit;   // set by the link once the connection is up (or failed)
  int32_t hrRapiInit = -1;  // negative: the connection failed
};

struct CeFindData {
  uint32_t attributes = 0;
  uint64_t size = 0;
  std::string name;  // the entry's own name, without its folder
};

class DeviceLink {
 public:
  virtual ~DeviceLink() = default;

  // Starts connecting. A negative result means it could not even start.
  // Otherwise init->heRapiInit is set once the connection is up or has
  // failed (hrRapiInit tells which); a device that is not there never sets it.
  // REQUIRES: init stays alive until CeRapiUninit has returned.
  virtual int32_t CeRapiInitEx(RapiInit* init) = 0;
  virtual int32_t CeRapiUninit() = 0;

  // pattern: a folder followed by "*" ("*" alone is the root).
  virtual CeHandle CeFindFirstFile(std::string_view pattern, CeFindData* data) = 0;
  virtual bool CeFindNextFile(CeHandle find, CeFindData* data) = 0;
  virtual bool CeFindClose(CeHandle find) = 0;

  // Results are error codes (kCeErrorSuccess on success).
  virtual uint32_t CeRegOpenKeyEx(CeKey key, std::string_view subkey, CeKey* result) = 0;
  virtual uint32_t CeRegEnumKeyEx(CeKey key, uint32_t index, std::string* name) = 0;
  // Strings only; a value longer than max_bytes gives kCeErrorMoreData.
  virtual uint32_t CeRegQueryValueEx(CeKey key, std::string_view value_name, std::string* data,
                                     uint32_t max_bytes) = 0;
  virtual uint32_t CeRegCloseKey(CeKey key) = 0;

  virtual bool CeCreateDirectory(std::string_view path) = 0;
  // access: 0 (test for the file) or kCeGenericWrite; creation:
  // kCeOpenExisting or kCeCreateAlways. Sharing is always none.
  virtual CeHandle CeCreateFile(std::string_view path, uint32_t access, uint32_t creation) = 0;
  virtual bool CeWriteFile(CeHandle file, const void* data, uint32_t count, uint32_t* written) = 0;
  virtual bool CeCloseHandle(CeHandle handle) = 0;
  // Never replaces an existing file: moving onto one fails.
  virtual bool CeMoveFile(std::string_view from, std::string_view to) = 0;
  virtual bool CeDeleteFile(std::string_view path) = 0;
  virtual uint32_t CeGetLastError() = 0;
};

}  // namespace fvx::library
