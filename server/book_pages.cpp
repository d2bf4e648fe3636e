// The pages of one book: its subject list, subjects, search and lists.
#include <algorithm>
#include <optional>

#include "reader/app_link.h"
#include "reader/element_html.h"
#include "reader/picture_files.h"
#include "reader/subject_hits.h"
#include "server/book_site.h"
#include "server/html_text.h"
#include "server/page_links.h"
#include "server/site_html.h"

namespace fvx::server {
namespace {

constexpr uint32_t kRowsPerPage = 100;
constexpr uint32_t kResultsPerPage = 50;
constexpr uint32_t kLookupRows = 30;
constexpr size_t kMaxWordLength = 200;

// An optional number parameter: nullopt when absent, *bad when malformed.
std::optional<uint32_t> NumberParam(const RequestTarget& target, std::string_view name, bool* bad) {
  const std::optional<std::string_view> text = target.Param(name);
  if (!text) return std::nullopt;
  const std::optional<uint32_t> value = ParseUint32(*text);
  if (!value) *bad = true;
  return value;
}

// The reader's query fields: w1..w3, op2/op3 ("and"/"or"), and the boxes
// case, headings, substring ("1" when ticked). Words arrive in UTF-8 and
// are searched for in the book's set.
struct QueryFields {
  reader::SearchQuery query;
  std::string words_utf8[3];
  bool any = false;     // w1 given
  bool valid = true;
  std::string as_params;  // the fields again, for links ("w1=...&...")
};

QueryFields ReadQuery(const RequestTarget& target, const ServedBook& book) {
  QueryFields fields;
  static const char* kWordNames[] = {"w1", "w2", "w3"};
  for (int w = 0; w < 3; ++w) {
    const std::optional<std::string_view> word = target.Param(kWordNames[w]);
    if (!word) continue;
    if (word->size() > kMaxWordLength) fields.valid = false;
    fields.words_utf8[w] = std::string(*word);
    fields.query.words[w] = FromUtf8(*word, book.charset());
    if (!word->empty()) {
      fields.as_params += std::string(fields.as_params.empty() ? "" : "&") + kWordNames[w] + "=" +
                          EncodeComponent(*word);
    }
  }
  fields.any = !fields.query.words[0].empty();
  // Only word 1 is required; a later word without an earlier one moves up.
  auto op = [&](std::string_view name, reader::SearchOperator* out) {
    const std::optional<std::string_view> text = target.Param(name);
    if (!text || *text == "and") return;
    if (*text == "or") {
      *out = reader::SearchOperator::kOr;
      fields.as_params += "&" + std::string(name) + "=or";
    } else {
      fields.valid = false;
    }
  };
  op("op2", &fields.query.operator2);
  op("op3", &fields.query.operator3);
  auto box = [&](std::string_view name) {
    const std::optional<std::string_view> text = target.Param(name);
    if (!text) return false;
    if (*text != "1" && *text != "on") {
      fields.valid = false;
      return false;
    }
    fields.as_params += "&" + std::string(name) + "=1";
    return true;
  };
  fields.query.match_case = box("case");
  fields.query.headings_only = box("headings");
  fields.query.whole_words = !box("substring");
  return fields;
}

// A line of the stored text around [start, end): elements dropped, runs
// of white space as one space, the hit marked.
std::string ContextLine(const ServedBook& book, std::string_view text, uint32_t start, uint32_t end) {
  constexpr size_t kAround = 70;
  auto plain = [&](size_t from, size_t to) {
    std::string out;
    auto space = [&] {
      if (out.empty() || out.back() != ' ') out.push_back(' ');
    };
    for (size_t at = from; at < to && at < text.size();) {
      const auto byte = static_cast<uint8_t>(text[at]);
      if (byte != reader::kElementEscape) {
        if (byte <= 0x20) {
          space();
        } else {
          out.push_back(static_cast<char>(byte));
        }
        ++at;
        continue;
      }
      const std::optional<reader::ElementView> element = reader::ReadElement(text, at);
      if (!element) break;
      if (element->code >= 12 && element->code <= 19) space();  // breaks, lists
      at += element->size;
    }
    return out;
  };
  std::string before = plain(0, start);
  bool cut_before = false;
  if (before.size() > kAround) {
    before = before.substr(before.size() - kAround);
    const size_t space = before.find(' ');
    if (space != std::string::npos && space < 20) before = before.substr(space + 1);
    cut_before = true;
  }
  std::string after = plain(end, std::min<size_t>(text.size(), size_t{end} + kAround * 4));
  bool cut_after = false;
  if (after.size() > kAround) {
    after.resize(kAround);
    const size_t space = after.rfind(' ');
    if (space != std::string::npos && space > kAround / 2) after.resize(space);
    cut_after = true;
  }
  const std::string ellipsis = "\xE2\x80\xA6";
  return (cut_before ? ellipsis : "") + BookText(book, before) + "<mark>" +
         BookText(book, plain(start, end)) + "</mark>" + BookText(book, after) +
         (cut_after ? ellipsis : "");
}

std::string SubjectHref(const ServedBook& book, uint32_t subject) {
  return BookBase(book) + "s/" + std::to_string(subject);
}

// A numbered list of subjects, one page of it, with links to the pages
// before and after (link_base ends in "?" or "&").
std::string SubjectListHtml(const ServedBook& book, reader::BookDocument& document,
                            const std::vector<uint32_t>& subjects, uint32_t from,
                            const std::string& link_base) {
  std::string html = "<p class=\"muted\">" + std::to_string(subjects.size()) +
                     (subjects.size() == 1 ? " subject" : " subjects") + "</p>";
  html += "<ol class=\"subjects\" start=\"" + std::to_string(from + 1) + "\">";
  const uint32_t end = std::min<uint32_t>(static_cast<uint32_t>(subjects.size()), from + kRowsPerPage);
  for (uint32_t k = from; k < end; ++k) {
    html += "<li data-subject=\"" + std::to_string(subjects[k]) + "\"><a href=\"" +
            SubjectHref(book, subjects[k]) + "\">" + BookText(book, document.Heading(subjects[k])) +
            "</a></li>";
  }
  html += "</ol><nav class=\"pager\">";
  if (from > 0) {
    html += "<a rel=\"prev\" href=\"" + link_base + "from=" +
            std::to_string(from > kRowsPerPage ? from - kRowsPerPage : 0) + "\">&lsaquo; Earlier</a>";
  } else {
    html += "<span></span>";
  }
  if (end < subjects.size()) {
    html += "<a rel=\"next\" href=\"" + link_base + "from=" + std::to_string(end) + "\">Later &rsaquo;</a>";
  }
  html += "</nav>";
  return html;
}

std::string SearchForm(const ServedBook& book, const QueryFields& fields) {
  auto value = [&](int w) { return HtmlEscape(fields.words_utf8[w]); };
  auto op = [&](const char* name, reader::SearchOperator current) {
    const bool is_or = current == reader::SearchOperator::kOr;
    return std::string("<select name=\"") + name + "\" aria-label=\"joined by\"><option value=\"and\"" +
           (is_or ? "" : " selected") + ">and</option><option value=\"or\"" +
           (is_or ? " selected" : "") + ">or</option></select>";
  };
  auto box = [&](const char* name, const char* label, bool on) {
    return std::string("<label><input type=\"checkbox\" name=\"") + name + "\" value=\"1\"" +
           (on ? " checked" : "") + "> " + label + "</label>";
  };
  const reader::SearchQuery& q = fields.query;
  return "<form class=\"find\" action=\"" + BookBase(book) + "search\" method=\"get\">"
         "<input type=\"search\" name=\"w1\" placeholder=\"Search\" aria-label=\"word 1\" value=\"" +
         value(0) + "\">" + op("op2", q.operator2) +
         "<input type=\"text\" name=\"w2\" aria-label=\"word 2\" value=\"" + value(1) + "\">" +
         op("op3", q.operator3) + "<input type=\"text\" name=\"w3\" aria-label=\"word 3\" value=\"" +
         value(2) + "\">" + box("headings", "headings only", q.headings_only) +
         box("case", "match case", q.match_case) + box("substring", "parts of words", !q.whole_words) +
         "<button type=\"submit\">Search</button></form>";
}

// "front", "back" or a subject index: the row it is in the whole list.
std::optional<uint32_t> RowOf(reader::BookDocument& document, const std::string& which,
                              std::optional<uint32_t>* subject) {
  if (which == "front") {
    if (!document.HasFrontCover()) return std::nullopt;
    return 0;
  }
  if (which == "back") {
    if (!document.HasBackCover()) return std::nullopt;
    return document.PageCount() - 1;
  }
  *subject = ParseUint32(which);
  if (!*subject || **subject >= document.SubjectCount()) return std::nullopt;
  return document.RowOfSubject(**subject);
}

const char kHeadingBoxScript[] = R"js(
(function(){
var box=document.getElementById('heading'),list=document.getElementById('rows'),pager=document.getElementById('pager');
var base=box.getAttribute('data-base'),asked=0;
box.addEventListener('input',function(){
  var n=++asked;
  fetch(base+'lookup?q='+encodeURIComponent(box.value)).then(function(r){return r.json();}).then(function(j){
    if(n!==asked)return;
    list.innerHTML='';
    list.start=j.row+1;
    j.rows.forEach(function(r,i){
      var li=document.createElement('li'),a=document.createElement('a');
      a.href=r.href;a.textContent=r.title;li.appendChild(a);
      if(i===0)li.className='hit';
      list.appendChild(li);
    });
    if(pager)pager.style.display='none';
  });
});
box.addEventListener('keydown',function(e){
  if(e.key==='Enter'){var a=list.querySelector('a');if(a){e.preventDefault();location.href=a.href;}}
});
})();
)js";

// Sizes the frame to its page, sends the page's links to the whole window
// and scrolls to the jump or the first hit.
const char kFrameScript[] = R"js(
(function(){
var f=document.getElementById('page');
function ready(){
  var d=f.contentDocument;if(!d||d.URL==='about:blank')return;
  Array.prototype.forEach.call(d.querySelectorAll('a[href]'),function(a){if(!a.target)a.target='_top';});
  if(!d.getElementById('fvx-fit')){var s=d.createElement('style');s.id='fvx-fit';
    s.textContent='img{max-width:100%;height:auto}';(d.head||d.documentElement).appendChild(s);}
  f.style.height=Math.max(d.documentElement.scrollHeight,d.body?d.body.scrollHeight:0)+24+'px';
  var mark=d.querySelector('a[name^="FvxAutoJumpAnchor"]')||d.querySelector('a[name="findloc"]');
  if(mark){var r=mark.getBoundingClientRect();window.scrollTo(0,f.getBoundingClientRect().top+window.pageYOffset+r.top-40);}
}
f.addEventListener('load',ready);
if(f.contentDocument&&f.contentDocument.readyState==='complete')ready();
})();
)js";

}  // namespace

HttpResponse BookSite::SubjectList(ServedBook& book, const RequestTarget& target) const {
  bool bad = false;
  const uint32_t from = NumberParam(target, "from", &bad).value_or(0);
  if (bad) return ErrorResponse(400, "from is a row number");
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  const std::string base = BookBase(book);
  std::string html = PageStart(ToUtf8(book.title(), book.charset()), &book);
  html += "<h1>" + BookText(book, book.title()) + "</h1>";
  if (!book.author().empty()) html += "<p>" + BookText(book, book.author()) + "</p>";
  html += "<p class=\"muted\">" + std::to_string(book.subject_count()) + " subjects &middot; <a href=\"" +
          base + "search\">search</a> &middot; <a href=\"" + base +
          "categories\">categories</a>";
  if (document->HasFrontCover()) html += " &middot; <a href=\"" + base + "s/front\">cover</a>";
  html += " &middot; <a href=\"" + base + "file/" + EncodeComponent(book.file_name()) +
          "\">download</a></p>";
  html += "<input id=\"heading\" type=\"search\" autocomplete=\"off\" placeholder=\"Go to heading\" "
          "aria-label=\"Go to heading\" data-base=\"" + base + "\">";
  const uint32_t rows = document->ListRowCount();
  html += "<ol id=\"rows\" class=\"subjects\" start=\"" + std::to_string(from + 1) + "\">";
  const uint32_t end = std::min(rows, from + kRowsPerPage);
  for (uint32_t row = from; row < end; ++row) {
    const std::optional<uint32_t> subject = document->SubjectOfRow(row);
    const std::string href = subject ? SubjectHref(book, *subject)
                                     : base + "s/" + (row == 0 ? "front" : "back");
    html += "<li><a href=\"" + href + "\">" + BookText(book, document->RowTitle(row)) + "</a></li>";
  }
  html += "</ol><nav id=\"pager\" class=\"pager\">";
  html += from > 0 ? "<a rel=\"prev\" href=\"?from=" +
                         std::to_string(from > kRowsPerPage ? from - kRowsPerPage : 0) +
                         "\">&lsaquo; Earlier</a>"
                   : "<span></span>";
  if (end < rows) html += "<a rel=\"next\" href=\"?from=" + std::to_string(end) + "\">Later &rsaquo;</a>";
  html += "</nav><script>" + std::string(kHeadingBoxScript) + "</script>" + PageEnd();
  return HtmlPage(std::move(html));
}

HttpResponse BookSite::Lookup(ServedBook& book, const RequestTarget& target) const {
  const std::optional<std::string_view> text = target.Param("q");
  if (text && text->size() > kMaxWordLength) return ErrorResponse(400, "the text is too long");
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  const std::string typed = FromUtf8(text.value_or(""), book.charset());
  const uint32_t row = typed.empty() ? 0 : document->HeadingLookup(typed).value_or(0);
  std::string json = "{\"row\":" + std::to_string(row) + ",\"rows\":[";
  const uint32_t end = std::min(document->ListRowCount(), row + kLookupRows);
  for (uint32_t r = row; r < end; ++r) {
    const std::optional<uint32_t> subject = document->SubjectOfRow(r);
    const std::string href = subject ? SubjectHref(book, *subject)
                                     : BookBase(book) + "s/" + (r == 0 ? "front" : "back");
    if (r != row) json += ",";
    json += "{\"row\":" + std::to_string(r) + ",\"subject\":" +
            (subject ? std::to_string(*subject) : std::string("null")) + ",\"title\":\"" +
            JsonEscape(ToUtf8(document->RowTitle(r), book.charset())) + "\",\"href\":\"" +
            JsonEscape(href) + "\"}";
  }
  json += "]}";
  HttpResponse response;
  response.content_type = "application/json";
  response.body = std::move(json);
  response.AddHeader("Cache-Control", "no-cache");
  return response;
}

HttpResponse BookSite::SubjectFrame(ServedBook& book, const std::string& which,
                                    const RequestTarget& target) const {
  bool bad = false;
  const std::optional<uint32_t> at = NumberParam(target, "at", &bad);
  const QueryFields fields = ReadQuery(target, book);
  if (bad || !fields.valid) return ErrorResponse(400, "bad parameters");
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  std::optional<uint32_t> subject;
  const std::optional<uint32_t> row = RowOf(*document, which, &subject);
  if (!row) return ErrorResponse(404, "no such subject");
  const std::string base = BookBase(book);
  const std::string title(document->RowTitle(*row));
  std::string params = fields.as_params;
  if (at) params = "at=" + std::to_string(*at) + (params.empty() ? "" : "&") + params;
  std::string html = PageStart(ToUtf8(title, book.charset()), &book);
  html += "<nav class=\"pager\">";
  auto neighbour = [&](int32_t step, const char* rel, const char* label) {
    const int64_t next_row = static_cast<int64_t>(*row) + step;
    if (next_row < 0 || next_row >= document->PageCount()) return std::string("<span></span>");
    const std::optional<uint32_t> next = document->SubjectOfRow(static_cast<uint32_t>(next_row));
    const std::string href = next ? SubjectHref(book, *next) : base + "s/" + (next_row == 0 ? "front" : "back");
    return "<a rel=\"" + std::string(rel) + "\" href=\"" + href + "\">" + label + "</a>";
  };
  html += neighbour(-1, "prev", "&lsaquo; Previous");
  html += "<a href=\"" + base + (subject ? "?from=" + std::to_string(*row / kRowsPerPage * kRowsPerPage) : "") +
          "\">Subjects</a>";
  html += neighbour(1, "next", "Next &rsaquo;");
  html += "</nav>";
  // A tree book's subject leads to its children, as the reader's tree does.
  if (subject && document->IsTreeMode() && document->GoToChildrenOfSubject(*subject)) {
    html += "<p><a class=\"children\" href=\"" + base + "children/" + std::to_string(*subject) +
            "\">" + std::to_string(document->ListRowCount()) + " under this subject</a></p>";
  }
  html += SearchForm(book, fields);
  html += "<iframe id=\"page\" class=\"page\" title=\"" + BookText(book, title) + "\" src=\"" + base +
          "page/" + which + (params.empty() ? "" : "?" + HtmlEscape(params)) + "\"></iframe>";
  html += "<script>" + std::string(kFrameScript) + "</script>" + PageEnd();
  return HtmlPage(std::move(html));
}

HttpResponse BookSite::RenderedPage(ServedBook& book, const std::string& which,
                                    const RequestTarget& target) const {
  bool bad = false;
  const uint32_t at = NumberParam(target, "at", &bad).value_or(0);
  const QueryFields fields = ReadQuery(target, book);
  if (bad || !fields.valid) return ErrorResponse(400, "bad parameters");
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  std::optional<uint32_t> subject;
  const std::optional<uint32_t> row = RowOf(*document, which, &subject);
  if (!row) return ErrorResponse(404, "no such subject");
  const bool highlight = subject && fields.any && reader::FindHitsOfSubject(*document, fields.query, *subject);
  const std::string base = BookBase(book);
  reader::PictureMap pictures([&base](uint32_t picture, int) -> std::optional<std::string> {
    return base + "p/" + std::to_string(picture);
  });
  std::string page;
  if (!document->RenderPage(*row, subject ? at : 0, subject ? at : 0, 0, highlight, &pictures, &page)) {
    return ErrorResponse(500, "the page cannot be read: the book is damaged");
  }
  HttpResponse response;
  response.content_type = "text/html; charset=" + book.charset();
  response.body = RewriteAppLinks(page, base);
  response.AddHeader("Cache-Control", "no-cache");
  return response;
}

HttpResponse BookSite::Search(ServedBook& book, const RequestTarget& target) const {
  bool bad = false;
  const uint32_t from = NumberParam(target, "from", &bad).value_or(0);
  const QueryFields fields = ReadQuery(target, book);
  if (bad || !fields.valid) return ErrorResponse(400, "bad parameters");
  std::string html = PageStart("Search " + ToUtf8(book.title(), book.charset()), &book);
  html += SearchForm(book, fields);
  if (!fields.any) return HtmlPage(html + PageEnd());
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  reader::SearchQuery query = fields.query;
  query.find_all = true;
  query.from_beginning = true;
  uint64_t candidates = 0;
  if (!document->BeginSearch(query, 0, &candidates)) return ErrorResponse(400, "not a query the book can run");
  uint32_t current = 0;
  while (document->SearchStep(reader::SearchDirection::kForwards, 64, &current) ==
         reader::SearchStepResult::kContinue) {
  }
  document->EndSearch();
  const std::vector<uint32_t> results = document->HasResults() ? document->Results()
                                                              : std::vector<uint32_t>{};
  document->ClearResults();
  html += "<p class=\"muted\">" + std::to_string(results.size()) +
          (results.size() == 1 ? " subject" : " subjects") + "</p>";
  html += "<ol class=\"subjects results\" start=\"" + std::to_string(from + 1) + "\">";
  const uint32_t end = std::min<uint32_t>(static_cast<uint32_t>(results.size()), from + kResultsPerPage);
  for (uint32_t k = from; k < end; ++k) {
    const uint32_t subject = results[k];
    html += "<li data-subject=\"" + std::to_string(subject) + "\"><a href=\"" +
            SubjectHref(book, subject) + "?" + HtmlEscape(fields.as_params) + "\">" +
            BookText(book, document->Heading(subject)) + "</a>";
    if (!query.headings_only && reader::FindHitsOfSubject(*document, query, subject) && !document->Hits().empty() &&
        document->LoadSubject(subject)) {
      const reader::Hit& first = *std::min_element(
          document->Hits().begin(), document->Hits().end(),
          [](const reader::Hit& a, const reader::Hit& b) { return a.start < b.start; });
      html += "<div class=\"context\">" +
              ContextLine(book, document->CurrentText(), first.start, first.end) + "</div>";
    }
    html += "</li>";
  }
  html += "</ol><nav class=\"pager\">";
  const std::string link = BookBase(book) + "search?" + HtmlEscape(fields.as_params) + "&amp;from=";
  html += from > 0 ? "<a rel=\"prev\" href=\"" + link +
                         std::to_string(from > kResultsPerPage ? from - kResultsPerPage : 0) +
                         "\">&lsaquo; Earlier</a>"
                   : "<span></span>";
  if (end < results.size()) html += "<a rel=\"next\" href=\"" + link + std::to_string(end) + "\">Later &rsaquo;</a>";
  html += "</nav>" + PageEnd();
  return HtmlPage(std::move(html));
}

HttpResponse BookSite::Categories(ServedBook& book) const {
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  const std::string base = BookBase(book);
  std::string html = PageStart("Categories", &book) + "<h1>Categories</h1><dl class=\"values\">";
  constexpr uint32_t kMaxValuesShown = 500;
  for (uint32_t row = 0; row < document->CategoryListRowCount(); ++row) {
    html += "<dt>" + BookText(book, document->CategoryListRowName(row)) + "</dt><dd>";
    const uint32_t values = std::min(document->ListRowValueCount(row), kMaxValuesShown);
    for (uint32_t v = 0; v < values; ++v) {
      html += "<a href=\"" + base + "list?row=" + std::to_string(row) + "&amp;value=" +
              std::to_string(v) + "\">" + BookText(book, document->ListRowValueName(row, v)) + "</a>";
    }
    html += "</dd>";
  }
  html += "</dl>";
  return HtmlPage(html + PageEnd());
}

HttpResponse BookSite::FilteredList(ServedBook& book, const RequestTarget& target) const {
  bool bad = false;
  const uint32_t from = NumberParam(target, "from", &bad).value_or(0);
  const std::optional<uint32_t> row = NumberParam(target, "row", &bad);
  const std::optional<uint32_t> value = NumberParam(target, "value", &bad);
  const std::optional<uint32_t> selection = NumberParam(target, "selection", &bad);
  const std::optional<std::string_view> expr = target.Param("expr");
  const int kinds = (row || value ? 1 : 0) + (selection ? 1 : 0) + (expr ? 1 : 0);
  if (bad || kinds != 1 || row.has_value() != value.has_value()) {
    return ErrorResponse(400, "give row and value, selection, or expr");
  }
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  std::vector<uint32_t> subjects;
  std::string title, link;
  if (selection) {
    if (*selection >= document->SelectionCount()) return ErrorResponse(404, "no such selection");
    if (!document->SelectionMembers(*selection, &subjects)) return ErrorResponse(500, "the selection cannot be read");
    title = ToUtf8(document->SelectionName(*selection), book.charset());
    link = "selection=" + std::to_string(*selection);
  } else if (row) {
    if (*row >= document->CategoryListRowCount() || *value >= document->ListRowValueCount(*row)) {
      return ErrorResponse(404, "no such value");
    }
    title = ToUtf8(document->CategoryListRowName(*row), book.charset()) + ": " +
            ToUtf8(document->ListRowValueName(*row, *value), book.charset());
    if (!document->ApplyListRow(*row, *value, reader::FilterMode::kReplace)) {
      return ErrorResponse(500, "the filter cannot be applied");
    }
    subjects = document->Results();
    link = "row=" + std::to_string(*row) + "&amp;value=" + std::to_string(*value);
  } else {
    const std::optional<std::string> expression = reader::HexDecode(*expr);
    if (!expression) return ErrorResponse(400, "expr is hexadecimal");
    if (!document->RunFilterExpression(*expression)) return ErrorResponse(400, "not a filter the book knows");
    subjects = document->Results();
    title = ToUtf8(*expression, book.charset());
    link = "expr=" + EncodeComponent(*expr);
  }
  std::string html = PageStart(title, &book) + "<h1>" + HtmlEscape(title) + "</h1>";
  html += SubjectListHtml(book, *document, subjects, from, BookBase(book) + "list?" + link + "&amp;");
  return HtmlPage(html + PageEnd());
}

HttpResponse BookSite::Children(ServedBook& book, const std::string& which,
                                const RequestTarget& target) const {
  bool bad = false;
  const uint32_t from = NumberParam(target, "from", &bad).value_or(0);
  const std::optional<uint32_t> subject = ParseUint32(which);
  if (bad) return ErrorResponse(400, "from is a row number");
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  if (!subject || *subject >= document->SubjectCount()) return ErrorResponse(404, "no such subject");
  if (!document->GoToChildrenOfSubject(*subject)) return ErrorResponse(404, "the subject has no children");
  std::vector<uint32_t> subjects;
  for (uint32_t row = 0; row < document->ListRowCount(); ++row) {
    if (const std::optional<uint32_t> child = document->SubjectOfRow(row)) subjects.push_back(*child);
  }
  const std::string title = ToUtf8(document->Heading(*subject), book.charset());
  std::string html = PageStart(title, &book) + "<h1>" + HtmlEscape(title) + "</h1>";
  html += SubjectListHtml(book, *document, subjects, from,
                          BookBase(book) + "children/" + std::to_string(*subject) + "?");
  return HtmlPage(html + PageEnd());
}

}  // namespace fvx::server
