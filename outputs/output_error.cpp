#include "outputs/output_error.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace outputs {
namespace {

// The length of the UTF-8 character at `at`, or nothing when the bytes
// there are not one (a stray continuation byte, an overlong form, a
// surrogate, a cut-off sequence).
std::optional<std::size_t> utf8_length(const std::string& text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t low = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, low = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, low = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, low = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  return length;
}

// C0 and C1 controls and DEL: what a terminal acts on instead of showing.
bool is_control(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// One byte as the shell's $'...' writes it.
std::string escaped(unsigned char byte) {
  switch (byte) {
    case '\a': return "\\a";
    case '\b': return "\\b";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\v': return "\\v";
    case '\f': return "\\f";
    case '\r': return "\\r";
    default: break;
  }
  const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                        static_cast<char>('0' + (byte & 7)), '\0'};
  return octal;
}

// A piece of a name: its bytes, and whether they are shown as they are.
struct Piece {
  std::size_t at, length;
  bool printable;
  char32_t code;
};

template <typename Each>
void for_each_piece(const std::string& text, Each&& each) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::optional<std::size_t> length = utf8_length(text, at, code);
    if (!length) {
      each(Piece{at, 1, false, 0});
      at += 1;
      continue;
    }
    each(Piece{at, *length, !is_control(code), code});
    at += *length;
  }
}

bool is_plain_in_a_shell(char32_t code) {
  if (code >= 0x80) return true;
  if ((code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) return true;
  for (const char c : std::string_view("%+,-./:=@_^")) {
    if (code == static_cast<char32_t>(c)) return true;
  }
  return false;
}

}  // namespace

std::string in_quotes(const std::string& text) {
  bool printable = true, single_quote = false, special_in_double_quotes = false;
  for_each_piece(text, [&](const Piece& p) {
    printable = printable && p.printable;
    single_quote = single_quote || p.code == '\'';
    special_in_double_quotes = special_in_double_quotes || p.code == '"' || p.code == '$' || p.code == '`' ||
                               p.code == '\\' || p.code == '!';
  });
  if (printable && single_quote && !special_in_double_quotes) return "\"" + text + "\"";

  // Single-quoted runs of what can be shown, $'...' runs of escapes, and
  // \' for a single quote between them.
  enum class Run { none, quoted, escapes } run = Run::none;
  std::string out;
  const auto enter = [&](Run next) {
    if (run == next) return;
    if (run != Run::none) out += '\'';
    if (next == Run::quoted) out += '\'';
    if (next == Run::escapes) out += "$'";
    run = next;
  };
  for_each_piece(text, [&](const Piece& p) {
    if (p.printable && p.code == '\'') {
      enter(Run::none);
      out += "\\'";
    } else if (p.printable) {
      enter(Run::quoted);
      out.append(text, p.at, p.length);
    } else {
      enter(Run::escapes);
      for (std::size_t i = 0; i < p.length; ++i) out += escaped(static_cast<unsigned char>(text[p.at + i]));
    }
  });
  if (out.empty()) return "''";
  enter(Run::none);
  return out;
}

std::string quoted_if_needed(const std::string& text) {
  bool plain = !text.empty();
  for_each_piece(text, [&](const Piece& p) { plain = plain && p.printable && is_plain_in_a_shell(p.code); });
  return plain ? text : in_quotes(text);
}

std::string terminal_safe(const std::string& text) {
  std::string out;
  for_each_piece(text, [&](const Piece& p) {
    if (p.printable) {
      out.append(text, p.at, p.length);
    } else {
      for (std::size_t i = 0; i < p.length; ++i) out += escaped(static_cast<unsigned char>(text[p.at + i]));
    }
  });
  return out;
}

}  // namespace outputs
