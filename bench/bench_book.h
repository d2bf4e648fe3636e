#pragma once

#include <functional>
#include <string>

namespace fvx::bench {

// A folder beside the build's programs where generated benchmark books are
// kept between runs (compiling them takes longer than the benchmarks).
std::string BenchCacheFolder(const std::string& name);

// The book NAME.fvx in FOLDER, compiled from the source WRITE_SOURCE
// produces on first use; empty when it cannot be made. With KEEP_SOURCE the
// generated source stays beside the book.
std::string CachedBenchBook(const std::string& folder, const std::string& name,
                            const std::function<bool(const std::string& source_path)>& write_source,
                            bool keep_source = true);

}  // namespace fvx::bench
