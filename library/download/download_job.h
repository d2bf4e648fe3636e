// One requested file, as the download engine carries it from AddJob until it
// is destroyed. An empty validator counts as absent everywhere.
#pragma once

#include <string>

namespace fvx::library {

struct DownloadJob {
  std::string heading;  // display name
  std::string url;
  std::string path;          // the local file that receives the bytes
  std::string id;            // the caller's key; the engine only carries it
  std::string lastModified;  // Last-Modified validator as the server sent it
  std::string etag;          // ETag validator, quotes included
  // With validators and no partial file, ask for the file only if it changed.
  bool conditional = false;
  int retries = 0;      // times put back in the queue after a break
  double received = 0;  // bytes of the current attempt
  double total = 0;     // announced bytes of the current attempt, 0 until known

  bool HasValidators() const { return !lastModified.empty() && !etag.empty(); }
};

}  // namespace fvx::library
