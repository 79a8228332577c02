#include "html_page.hpp"

#include "text_out.hpp"

namespace kvx {
namespace {

constexpr const char *kStyle =
    "body{font-family:'DejaVu Sans',Arial,sans-serif;margin:24px;color:#222;max-width:1000px}"
    ".rec{border-top:1px solid #ccc;padding:12px 0 24px}"
    "h2{font-size:18px;margin:4px 0}.what{color:#555;margin:2px 0 8px}"
    "ul{margin:4px 0}.note{color:#a15c00}img{max-width:100%;border:1px solid #eee}"
    "a{margin-right:14px}";

// A link to a file of the output folder: its name, percent-escaped where URLs need it.
std::string href(std::string_view file) {
  std::string out;
  for (unsigned char c : file) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~';
    if (plain)
      out += static_cast<char>(c);
    else
      appendf(out, "%%%02X", c);
  }
  return out;
}

void entry(std::string &html, const PageEntry &e) {
  html += "<div class=\"rec\" id=\"" + xmlText(e.name) + "\">\n<h2>" + xmlText(e.name) + "</h2>\n";
  if (!e.description.empty()) html += "<p class=\"what\">" + xmlText(e.description) + "</p>\n";
  html += "<ul>\n";
  for (const auto &f : e.facts) html += "<li>" + xmlText(f) + "</li>\n";
  for (const auto &n : e.notes) html += "<li class=\"note\">" + xmlText(n) + "</li>\n";
  html += "</ul>\n<p>";
  for (const auto &[label, file] : e.files)
    html += "<a href=\"" + href(file) + "\">" + xmlText(label) + "</a>";
  html += "</p>\n";
  if (!e.picture.empty())
    html += "<img src=\"" + href(e.picture) + "\" alt=\"route, speed and G-forces of " +
            xmlText(e.name) + "\">\n";
  html += "</div>\n";
}

}  // namespace

std::string folderPage(std::string_view folder, const std::vector<PageEntry> &entries) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  html += "<title>Recordings of " + xmlText(folder) + "</title>\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n<h1>Recordings of " + xmlText(folder) + "</h1>\n";
  appendf(html, "<p>%zu recording%s, oldest first.</p>\n", entries.size(),
          entries.size() == 1 ? "" : "s");
  for (const auto &e : entries) entry(html, e);
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace kvx
