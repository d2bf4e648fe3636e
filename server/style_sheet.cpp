#include "server/book_site.h"

namespace fvx::server {

// One sheet for every page of the server; the book's own pages keep their
// own style inside their frame. Below 600 px (a 360 px phone) the bars
// stack and the form fields take the whole width.
const char kStyleSheet[] = R"css(
*{box-sizing:border-box}
body{margin:0;font:16px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;color:#222;background:#f6f5f1}
a{color:#1a5fb4}
header.bar{display:flex;flex-wrap:wrap;gap:.4em 1em;align-items:center;padding:.6em 1em;background:#2b3a4a;color:#fff}
header.bar a{color:#fff;text-decoration:none;font-weight:600}
header.bar .crumb{opacity:.85}
main{max-width:60em;margin:0 auto;padding:1em}
h1{font-size:1.5em;margin:.3em 0}
.muted{color:#666;font-size:.9em}
ul.books{list-style:none;padding:0;display:grid;grid-template-columns:repeat(auto-fill,minmax(16em,1fr));gap:1em}
ul.books li{background:#fff;border:1px solid #ddd;border-radius:6px;padding:.8em;display:flex;gap:.8em}
ul.books img{width:64px;height:auto;max-height:96px;object-fit:contain;flex:none}
ul.books .nocover{width:64px;height:80px;background:#e4e1d8;flex:none;border-radius:3px}
ul.books .title{font-weight:600}
form.find{display:flex;flex-wrap:wrap;gap:.4em;align-items:center;margin:.6em 0}
form.find input[type=search],form.find input[type=text]{flex:1 1 10em;min-width:6em;padding:.45em;font-size:1em;border:1px solid #bbb;border-radius:4px}
form.find select{padding:.4em;font-size:1em}
form.find button{padding:.45em 1em;font-size:1em}
form.find label{white-space:nowrap;font-size:.95em}
#heading{width:100%;padding:.55em;font-size:1.05em;border:1px solid #bbb;border-radius:4px}
ol.subjects{padding-left:3.2em;background:#fff;border:1px solid #ddd;border-radius:6px;margin:.6em 0;padding-top:.4em;padding-bottom:.4em}
ol.subjects li{padding:.15em 0}
ol.subjects .context{color:#444;font-size:.9em;margin:.1em 0 .4em}
mark{background:#fde68a}
nav.pager{display:flex;gap:1em;justify-content:space-between;margin:.5em 0}
nav.pager a,nav.pager span{padding:.3em .2em}
iframe.page{display:block;width:100%;min-height:60vh;border:1px solid #ddd;background:#fff}
dl.values dt{font-weight:600;margin-top:.6em}
dl.values dd{margin:0 0 0 1em}
dl.values dd a{display:inline-block;margin:.1em .6em .1em 0}
@media (max-width:600px){
  body{font-size:17px}
  main{padding:.5em}
  header.bar{padding:.5em .6em}
  form.find input[type=search]{flex-basis:100%}
  form.find input[type=text]{flex:1 1 8em}
  form.find button{flex:1 1 auto}
  ul.books{grid-template-columns:1fr}
  ol.subjects{padding-left:2.4em}
  iframe.page{min-height:70vh;border-left:0;border-right:0}
}
)css";

}  // namespace fvx::server
