#include "library/pocket_pc_link.h"

#include <algorithm>
#include <array>

#include "platform/ascii.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace fvx::library {
namespace {

constexpr char kBuiltinKey[] = "\\Drivers\\Builtin";
constexpr uint32_t kFolderNameBytes = 520;

// The "FolderName" of every subkey of "\Drivers\Builtin" that has one.
std::vector<std::string> BuiltinFolderNames(DeviceLink& device) {
  std::vector<std::string> names;
  CeKey builtin = 0;
  if (device.CeRegOpenKeyEx(kCeHkeyLocalMachine, kBuiltinKey, &builtin) != kCeErrorSuccess) {
    return names;
  }
  std::string subkey;
  for (uint32_t index = 0; device.CeRegEnumKeyEx(builtin, index, &subkey) == kCeErrorSuccess;
       ++index) {
    CeKey driver = 0;
    if (device.CeRegOpenKeyEx(builtin, subkey, &driver) != kCeErrorSuccess) continue;
    std::string folder;
    if (device.CeRegQueryValueEx(driver, "FolderName", &folder, kFolderNameBytes) ==
        kCeErrorSuccess) {
      names.push_back(folder);
    }
    device.CeRegCloseKey(driver);
  }
  device.CeRegCloseKey(builtin);
  return names;
}

}  // namespace

PocketPcLink::PocketPcLink(DeviceLink& device, std::chrono::milliseconds connect_wait)
    : device_(device), connect_wait_(connect_wait) {}

bool PocketPcLink::IsConnecting() const {
  std::lock_guard lock(mutex_);
  return cancel_event_ != nullptr;
}

bool PocketPcLink::Connect() {
  std::shared_ptr<DeviceEvent> cancel;
  {
    std::lock_guard lock(mutex_);
    if (cancel_event_) return false;
    cancel_event_ = std::make_shared<DeviceEvent>();
    cancel = cancel_event_;
  }
  RapiInit init;
  bool ok = false;
  if (device_.CeRapiInitEx(&init) >= 0) {
    ok = WaitForAny({cancel.get(), &init.heRapiInit}, connect_wait_) == 1 && init.hrRapiInit >= 0;
  }
  if (!ok) device_.CeRapiUninit();
  std::lock_guard lock(mutex_);
  cancel_event_.reset();
  return ok;
}

bool PocketPcLink::ListStorageCards(std::vector<std::string>* names) {
  if (names == nullptr || busy_) return false;
  names->clear();
  if (!Connect()) return false;
  busy_ = true;
  CeFindData found;
  CeHandle find = device_.CeFindFirstFile("*", &found);
  if (find != kInvalidCeHandle) {
    constexpr uint32_t kCard = kCeAttributeDirectory | kCeAttributeTemporary;
    do {
      if ((found.attributes & kCard) == kCard) names->push_back(found.name);
    } while (busy_ && device_.CeFindNextFile(find, &found));
    device_.CeFindClose(find);
  }
  const bool ok = busy_.exchange(false) && !names->empty();
  if (ok) {
    for (const std::string& builtin : BuiltinFolderNames(device_)) {
      std::erase_if(*names, [&](const std::string& name) {
        return platform::EqualsIgnoringAsciiCase(name, builtin);
      });
    }
  }
  device_.CeRapiUninit();
  return ok;
}

void PocketPcLink::Report(uint64_t copied) {
  if (total_ == 0) return;
  int percentage = static_cast<int>(copied * 100 / total_);
  if (percentage == last_percentage_) return;
  last_percentage_ = percentage;
  if (listener_) listener_(percentage);
}

bool PocketPcLink::CopyFile(const std::string& path, const std::string& card_name, bool overwrite,
                            bool* already_there) {
  if (already_there != nullptr) *already_there = false;
  if (path.empty() || busy_) return false;
  platform::File source = platform::File::OpenForReading(path);
  std::optional<uint64_t> size = source.IsOpen() ? source.Size() : std::nullopt;
  if (!size) return false;
  total_ = *size;
  last_percentage_ = -1;
  if (!Connect()) return false;

  const std::string folder = card_name.empty() ? "My Documents\\" : card_name + "\\My Documents\\";
  device_.CeCreateDirectory(folder);
  std::string file_name = path.substr(platform::LastPathSeparator(path) + 1);
  size_t dot = file_name.rfind('.');
  std::string stem = file_name.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : file_name.substr(dot);
  const std::string temporary = folder + stem + ".tmp";
  const std::string final_name = folder + stem + extension;

  if (!overwrite) {
    CeHandle existing = device_.CeCreateFile(final_name, 0, kCeOpenExisting);
    if (existing != kInvalidCeHandle) {
      device_.CeCloseHandle(existing);
      if (already_there != nullptr) *already_there = true;
      device_.CeRapiUninit();
      return false;
    }
  }
  CeHandle target = device_.CeCreateFile(temporary, kCeGenericWrite, kCeCreateAlways);
  if (target == kInvalidCeHandle) {
    if (already_there != nullptr) *already_there = device_.CeGetLastError() == kCeErrorFileExists;
    device_.CeRapiUninit();
    return false;
  }

  busy_ = true;
  std::array<char, kChunkSize> chunk;
  uint64_t copied = 0;
  bool failed = false;
  size_t count = 0;
  do {
    std::optional<size_t> read = source.ReadSome(chunk.data(), chunk.size());
    if (!read) {
      failed = true;  // a read error is not the end of the book
      break;
    }
    count = *read;
    if (count > 0) {
      uint32_t written = 0;
      if (!device_.CeWriteFile(target, chunk.data(), static_cast<uint32_t>(count), &written) ||
          written != count) {
        failed = true;
        break;
      }
    }
    copied += count;
    Report(copied);
  } while (count == chunk.size() && busy_);
  const bool ran_to_end = busy_.exchange(false);
  bool ok = !failed && ran_to_end;
  if (!device_.CeCloseHandle(target)) ok = false;

  if (ok && !device_.CeMoveFile(temporary, final_name)) {
    device_.CeDeleteFile(final_name);
    if (!device_.CeMoveFile(temporary, final_name)) {
      device_.CeDeleteFile(temporary);
      ok = false;
    }
  }
  device_.CeRapiUninit();
  return ok;
}

void PocketPcLink::Cancel() {
  {
    std::lock_guard lock(mutex_);
    if (cancel_event_) cancel_event_->Set();
  }
  busy_ = false;
  device_.CeRapiUninit();
}

}  // namespace fvx::library
