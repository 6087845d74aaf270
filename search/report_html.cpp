#include "search/report_html.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace html_report {

namespace {

using depict::escape;

constexpr const char *kStyle = R"(<style>
body{font-family:"DejaVu Sans",Arial,sans-serif;margin:24px;color:#222;background:#fff}
h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:28px 0 10px}
table{border-collapse:collapse;font-size:13px}
td,th{padding:3px 9px;border-bottom:1px solid #e2e2e2;text-align:left}
td.n,th.n{text-align:right}
#rows th{cursor:pointer;background:#f2f2f2;position:sticky;top:0;user-select:none}
#rows th[data-dir=asc]::after{content:" \25B2"}#rows th[data-dir=desc]::after{content:" \25BC"}
#rows tbody tr:hover{background:#f7f7ff}
.summary th{font-weight:normal;color:#555}
#depictions{display:grid;gap:16px;align-items:stretch}
figure.pair{margin:0;border:1px solid #ddd;border-radius:6px;padding:6px;min-width:0}
figure.pair .art{width:100%}figure.pair svg{display:block;width:100%;height:auto}
figcaption{font-size:13px;color:#555;margin:0 0 4px}
</style>
)";

// Sorting by a header click (again: the other way); drawing a depiction
// when it comes near the view (those near it at load, at once).
constexpr const char *kScript = R"(<script>
(function(){
var table=document.getElementById('rows');
var heads=table.tHead.rows[0].cells;
Array.prototype.forEach.call(heads,function(th,col){
th.addEventListener('click',function(){
var dir=th.getAttribute('data-dir')==='asc'?-1:1;
Array.prototype.forEach.call(heads,function(h){h.removeAttribute('data-dir');});
th.setAttribute('data-dir',dir===1?'asc':'desc');
var num=th.classList.contains('n');
var body=table.tBodies[0];
var rows=Array.prototype.slice.call(body.rows);
rows.sort(function(a,b){
var x=a.cells[col].textContent,y=b.cells[col].textContent;
var c=num?parseFloat(x)-parseFloat(y):(x<y?-1:x>y?1:0);
return c!==0?dir*c:a.cells[0].textContent-b.cells[0].textContent;});
rows.forEach(function(r){body.appendChild(r);});});});
function draw(f){var t=f.querySelector('template');
if(t){t.parentNode.appendChild(t.content.cloneNode(true));t.remove();f.className+=' drawn';}}
var figures=document.querySelectorAll('figure.pair');
var near=window.innerHeight+600;
var seen='IntersectionObserver' in window?new IntersectionObserver(function(entries){
entries.forEach(function(e){if(e.isIntersecting){draw(e.target);seen.unobserve(e.target);}});},
{rootMargin:'600px 0px'}):null;
Array.prototype.forEach.call(figures,function(f){
if(!seen||f.getBoundingClientRect().top<near)draw(f);else seen.observe(f);});
})();
</script>
)";

std::string number(const char *format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// Every option the screen ran with, defaults included where they decide the
// rows (the engine's, the size limits of molecule inputs).
std::string options_text(const Summary &s) {
  const screen::RunOptions &r = s.run;
  std::string out = s.all_pairs ? "--pairs" : "queries against targets";
  for (const std::string &e : s.entries) out += ", -e " + e;
  out += s.format == screen::Format::kJsonl ? ", --format jsonl" : ", --format tsv";
  if (s.names) out += ", --names";
  if (!s.name_field.empty()) out += ", --name-field " + s.name_field;
  if (r.min) out += ", --min " + number("%g", *r.min);
  if (r.top > 0) out += ", --top " + std::to_string(r.top);
  if (s.no_self) out += ", --no-self";
  if (r.engine.atom_mode == 2) out += ", --atom";
  if (r.engine.exec_mode == 8) out += ", --trick";
  out += ", --repeat " + std::to_string(r.engine.maxrepeat);
  out += ", --limit " + std::to_string(r.engine.limit);
  out += ", --max-atoms " + std::to_string(s.max_atoms);
  out += ", --max-depth " + std::to_string(s.max_depth);
  if (!s.shard.empty()) out += ", --shard " + s.shard;
  out += ", -j " + std::to_string(r.threads);
  out += ", --block " + std::to_string(s.block);
  out += ", --html-max " + std::to_string(s.html_max);
  return out;
}

void summary_row(std::string &out, const char *name, const std::string &value) {
  out += "<tr><th>";
  out += name;
  out += "</th><td>" + escape(value) + "</td></tr>\n";
}

const char *name_of(const CPDMOL *mol) {
  return mol != nullptr && mol->name != nullptr ? mol->name : "";
}
const char *definition_of(const CPDMOL *mol) {
  return mol != nullptr && mol->definition != nullptr ? mol->definition : "";
}

// A size of a drawing ("width" or "height"), read from its own svg element.
double svg_size(const std::string &svg, const std::string &name) {
  const std::string key = " " + name + "=\"";
  const std::size_t at = svg.find(key);
  return at == std::string::npos ? 0.0 : std::strtod(svg.c_str() + at + key.size(), nullptr);
}

void summary_table(std::string &out, const Summary &summary, std::size_t rows) {
  out += "<table class=\"summary\" id=\"summary\">\n";
  std::string inputs;
  for (const std::string &in : summary.inputs) inputs += (inputs.empty() ? "" : ", ") + in;
  summary_row(out, "inputs", inputs);
  summary_row(out, "options", options_text(summary));
  summary_row(out, "pairs", std::to_string(summary.pairs));
  summary_row(out, "skipped by the bound", std::to_string(summary.skipped));
  summary_row(out, "rows", std::to_string(rows));
  summary_row(out, "time", number("%.2f s", summary.seconds));
  out += "</table>\n";
}

// The kept rows; the first `drawn` link to their depictions.
void rows_table(std::string &out, std::span<const Row> rows, std::size_t drawn) {
  out +=
      "<h2>Rows</h2>\n<table id=\"rows\"><thead><tr><th class=\"n\">#</th><th>query</th>"
      "<th>query name</th><th>target</th><th>target name</th><th class=\"n\">query atoms</th>"
      "<th class=\"n\">target atoms</th><th class=\"n\">score</th>"
      "<th class=\"n\">coefficient</th><th>status</th><th>proven</th></tr></thead>\n<tbody>\n";
  for (std::size_t k = 0; k < rows.size(); k++) {
    const Row &row = rows[k];
    const screen::PairResult &r = row.result;
    const std::string n = std::to_string(k + 1);
    out += "<tr><td class=\"n\">";
    out += k < drawn ? "<a href=\"#d" + n + "\">" + n + "</a>" : n;
    out += "</td><td>" + escape(name_of(row.query)) + "</td><td>" +
           escape(definition_of(row.query)) + "</td><td>" + escape(name_of(row.target)) +
           "</td><td>" + escape(definition_of(row.target)) + "</td><td class=\"n\">" +
           std::to_string(r.query_atoms) + "</td><td class=\"n\">" +
           std::to_string(r.target_atoms) + "</td><td class=\"n\">" + std::to_string(r.score) +
           "</td><td class=\"n\">" + number("%f", r.coefficient) + "</td><td>" +
           escape(screen::status_text(r)) + "</td><td>" + (r.proven ? "yes" : "no") +
           "</td></tr>\n";
  }
  out += "</tbody></table>\n";
}

// The first `drawn` rows drawn again on the calling thread's engine, each in
// a card whose template the page's script opens near the view. The cards
// form a grid of equal columns, as wide as the widest drawing up to a limit
// (wider ones are scaled down to fit); each keeps its drawing's proportions
// before it is drawn, so the page keeps its length while depictions appear.
void depictions(std::string &out, const Summary &summary, std::span<const Row> rows,
                std::size_t drawn, const Options &options) {
  out += "<h2>Depictions</h2>\n<p>The first " + std::to_string(drawn) + " of " +
         std::to_string(rows.size()) +
         " rows, each pair's aligned atoms coloured by connected piece (the pieces of "
         "<code>taviron --align</code>, numbered as its SCCS), the second compound turned to "
         "match the first.</p>\n";
  screen::init_engine(summary.run.engine);
  std::vector<std::string> svgs;
  double widest = 0;
  for (std::size_t k = 0; k < drawn; k++) {
    const Row &row = rows[k];
    const depict::PairInfo info = depict::compute_pair(row.query, row.target);
    svgs.push_back(depict::pair_svg(*row.query, *row.target, info, options.drawing));
    widest = std::max(widest, svg_size(svgs.back(), "width"));
  }
  constexpr double kWidestColumn = 720;
  const double column = std::clamp(widest, 300.0, kWidestColumn);
  out += "<div id=\"depictions\" style=\"grid-template-columns:repeat(auto-fill,minmax(min(100%," +
         number("%.0f", column + 14) + "px),1fr))\">\n";
  for (std::size_t k = 0; k < drawn; k++) {
    const Row &row = rows[k];
    const std::string &svg = svgs[k];
    const std::string n = std::to_string(k + 1);
    out += "<figure class=\"pair\" id=\"d" + n + "\"><figcaption>" + n + ". " +
           escape(name_of(row.query)) + " &#215; " + escape(name_of(row.target)) +
           "</figcaption><div class=\"art\" style=\"aspect-ratio:" +
           number("%.1f", svg_size(svg, "width")) + "/" + number("%.1f", svg_size(svg, "height")) +
           "\"><template>" + svg + "</template></div></figure>\n";
  }
  out += "</div>\n";
}

}  // namespace

std::string page(const Summary &summary, std::span<const Row> rows, const Options &options) {
  std::string out;
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<title>taviron-search report</title>\n";
  out += kStyle;
  out += "</head><body>\n<h1>taviron-search report</h1>\n";
  summary_table(out, summary, rows.size());
  const std::size_t drawn =
      std::min(rows.size(), static_cast<std::size_t>(std::max(0, options.max_depictions)));
  rows_table(out, rows, drawn);
  depictions(out, summary, rows, drawn, options);
  out += kScript;
  out += "</body></html>\n";
  return out;
}

}  // namespace html_report
