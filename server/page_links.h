// The renderer's pages point back into the reader ("fvxapp://<a:b:c>text");
// a browser needs server addresses instead:
//
//   <0:S:P>      subject S at position P  -> BASE "s/" S ["?at=" P]
//   <4:0:0>URL   outside the book         -> URL, unchanged
//   <5:0:0>HEX   a filter expression      -> BASE "list?expr=" HEX
//   <6:S:0>      the children of S        -> BASE "children/" S
//
// and the cover page's picture ("file://" + name) loses its scheme. Only
// the quoted attribute values change; every other byte stays as rendered.
#pragma once

#include <string>
#include <string_view>

namespace fvx::server {

// base: the book's address with its closing slash ("/b/atlas/").
std::string RewriteAppLinks(std::string_view html, std::string_view base);

}  // namespace fvx::server
