// Escaping of texts taken from files.
#include "frames.h"

namespace tarnlook {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kFirstPrintable = 0x20;  // blank
constexpr unsigned char kLastPrintable = 0x7E;   // '~'

}  // namespace

std::string visible(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (u >= kFirstPrintable && u <= kLastPrintable) {
      text.push_back(c);
    } else {
      text += "\\x";
      text.push_back(kHexDigits[u >> 4]);
      text.push_back(kHexDigits[u & 0x0F]);
    }
  }
  return text;
}

std::string htmlText(const std::string& text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      case '\'': html += "&#39;"; break;
      default: html.push_back(c);
    }
  }
  return html;
}

std::string csvField(const std::string& text) {
  const bool quoted = text.find_first_of(",\"\r\n") != std::string::npos ||
                      (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quoted) return text;
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field.push_back('"');
    field.push_back(c);
  }
  return field + "\"";
}

}  // namespace tarnlook
