// Reads the dialog templates of the program's resource script: the subset of rc syntax that the
// script uses, with the styles that rc.exe and windres give each statement, so that the simulated
// dialogs are built from the very templates the Windows build compiles.
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/errors.h"
#include "sim/text.h"
#include "sim/ui.h"

namespace sim {
namespace {

// The names a script takes from <windows.h>: resource IDs and the window, dialog and control
// styles. The script's own header gives everything else.
struct NamedValue {
  const char* name;
  std::int64_t value;
};
// clang-format off
constexpr NamedValue kKnownNames[] = {
    {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5}, {"IDYES", 6},
    {"IDNO", 7}, {"IDC_STATIC", -1},
    {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000}, {"WS_CHILD", 0x40000000},
    {"WS_MINIMIZE", 0x20000000}, {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000}, {"WS_BORDER", 0x00800000},
    {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000}, {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000}, {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000},
    {"WS_TABSTOP", 0x00010000}, {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
    {"WS_EX_DLGMODALFRAME", 0x00000001}, {"WS_EX_NOPARENTNOTIFY", 0x00000004},
    {"WS_EX_TOPMOST", 0x00000008}, {"WS_EX_ACCEPTFILES", 0x00000010},
    {"WS_EX_TRANSPARENT", 0x00000020}, {"WS_EX_TOOLWINDOW", 0x00000080},
    {"WS_EX_WINDOWEDGE", 0x00000100}, {"WS_EX_CLIENTEDGE", 0x00000200},
    {"WS_EX_CONTEXTHELP", 0x00000400}, {"WS_EX_RIGHT", 0x00001000},
    {"WS_EX_CONTROLPARENT", 0x00010000}, {"WS_EX_STATICEDGE", 0x00020000},
    {"WS_EX_APPWINDOW", 0x00040000},
    {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_3DLOOK", 0x04}, {"DS_FIXEDSYS", 0x08},
    {"DS_NOFAILCREATE", 0x10}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80}, {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200},
    {"DS_CONTROL", 0x400}, {"DS_CENTER", 0x800}, {"DS_CENTERMOUSE", 0x1000},
    {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x48},
    {"BS_PUSHBUTTON", 0x0}, {"BS_DEFPUSHBUTTON", 0x1}, {"BS_CHECKBOX", 0x2},
    {"BS_AUTOCHECKBOX", 0x3}, {"BS_RADIOBUTTON", 0x4}, {"BS_3STATE", 0x5},
    {"BS_AUTO3STATE", 0x6}, {"BS_GROUPBOX", 0x7}, {"BS_AUTORADIOBUTTON", 0x9},
    {"BS_LEFTTEXT", 0x20}, {"BS_ICON", 0x40}, {"BS_BITMAP", 0x80}, {"BS_MULTILINE", 0x2000},
    {"BS_FLAT", 0x8000},
    {"SS_LEFT", 0x0}, {"SS_CENTER", 0x1}, {"SS_RIGHT", 0x2}, {"SS_ICON", 0x3},
    {"SS_SIMPLE", 0xB}, {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100},
    {"SS_CENTERIMAGE", 0x200}, {"SS_SUNKEN", 0x1000},
    {"PBS_SMOOTH", 0x01}, {"PBS_VERTICAL", 0x04},
};
// clang-format on

constexpr int kMaxDefineDepth = 32;  // a macro that names itself, directly or not, stops here

struct Token {
  enum Kind { End, Name, Number, String, Punct } kind = End;
  std::string text;         // the name, the string's bytes, or the punctuation character
  std::int64_t number = 0;  // for Number
  int line = 0;
};

bool NameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// A #define: its body, kept as text and read only when the name is used.
struct Define {
  std::string body;
  std::string file;
  int line = 0;
};

class Reader {
 public:
  Reader(std::string file, std::map<std::string, Define>* defines, std::string* headerName, bool isHeader = false)
      : file_(std::move(file)), defines_(defines), headerName_(headerName), isHeader_(isHeader) {}

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw ImageError(file_ + ":" + std::to_string(line) + ": " + what);
  }

  // Splits text into tokens; preprocessor lines act at once (#define records a name).
  std::vector<Token> Tokenize(const std::string& text, int firstLine, bool directives) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    int line = firstLine;
    bool lineStart = true;
    while (i < text.size()) {
      char c = text[i];
      if (c == '\n') {
        ++line;
        ++i;
        lineStart = true;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
        while (i < text.size() && text[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
        int opened = line;
        std::size_t close = text.find("*/", i + 2);
        if (close == std::string::npos) Fail(opened, "comment not closed");
        for (std::size_t k = i; k < close; ++k) line += text[k] == '\n';
        i = close + 2;
        continue;
      }
      if (c == '#' && lineStart && directives) {
        std::size_t end = text.find('\n', i);
        if (end == std::string::npos) end = text.size();
        Directive(text.substr(i + 1, end - i - 1), line);
        i = end;
        continue;
      }
      lineStart = false;
      Token token;
      token.line = line;
      if (c == '"') {
        token.kind = Token::String;
        ++i;
        for (;;) {
          if (i >= text.size() || text[i] == '\n') Fail(token.line, "string not closed");
          char s = text[i++];
          if (s == '"') {
            if (i < text.size() && text[i] == '"') {  // "" is one quote
              token.text += '"';
              ++i;
              continue;
            }
            break;
          }
          if (s == '\\') {
            if (i >= text.size()) Fail(token.line, "string not closed");
            char e = text[i++];
            switch (e) {
              case 'n': token.text += '\n'; break;
              case 't': token.text += '\t'; break;
              case 'r': token.text += '\r'; break;
              case '\\': token.text += '\\'; break;
              case '"': token.text += '"'; break;
              default: Fail(token.line, std::string("unsupported escape \\") + e + " in a string");
            }
            continue;
          }
          token.text += s;
        }
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
        token.kind = Token::Number;
        std::size_t start = i;
        int base = 10;
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
          base = 16;
          i += 2;
        }
        std::size_t digits = i;
        while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
        std::string number = text.substr(digits, i - digits);
        while (i < text.size() && (text[i] == 'L' || text[i] == 'l' || text[i] == 'U' || text[i] == 'u')) ++i;
        bool valid = !number.empty() && number.size() <= 10;
        for (char d : number) valid = valid && (base == 16 || std::isdigit(static_cast<unsigned char>(d)));
        if (!valid || (i < text.size() && NameChar(text[i]))) {
          while (i < text.size() && NameChar(text[i])) ++i;
          Fail(line, "bad number " + text.substr(start, i - start));
        }
        token.number = std::stoll(number, nullptr, base);
        if (token.number > 0xFFFFFFFFLL) Fail(line, "number " + text.substr(start, i - start) + " is too large");
      } else if (NameStart(c)) {
        token.kind = Token::Name;
        std::size_t start = i;
        while (i < text.size() && NameChar(text[i])) ++i;
        token.text = text.substr(start, i - start);
      } else if (std::string_view(",|&+-~(){}").find(c) != std::string_view::npos) {
        token.kind = Token::Punct;
        token.text = std::string(1, c);
        ++i;
      } else {
        Fail(line, std::string("unexpected character '") + c + "'");
      }
      tokens.push_back(std::move(token));
    }
    Token end;
    end.line = line;
    tokens.push_back(end);
    return tokens;
  }

 private:
  void Directive(const std::string& rest, int line) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < rest.size() && NameChar(rest[i])) ++i;
    std::string name = rest.substr(start, i - start);
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
    std::string tail = rest.substr(i);
    while (!tail.empty() && (tail.back() == '\r' || tail.back() == ' ' || tail.back() == '\t')) tail.pop_back();
    if (name == "include") {
      // <...> is a system header: its names are the known table. "..." is the script's header.
      if (tail.size() >= 2 && tail.front() == '"' && tail.back() == '"') {
        if (headerName_ != nullptr) *headerName_ = tail.substr(1, tail.size() - 2);
      } else if (!(tail.size() >= 2 && tail.front() == '<' && tail.back() == '>')) {
        Fail(line, "bad #include " + tail);
      }
      return;
    }
    if (name == "define") {
      std::size_t n = 0;
      while (n < tail.size() && NameChar(tail[n])) ++n;
      if (n == 0 || !NameStart(tail[0])) Fail(line, "bad #define " + tail);
      if (n < tail.size() && tail[n] == '(') Fail(line, "macros with arguments are not supported");
      std::string body = tail.substr(n);
      std::size_t comment = body.find("//");
      if (comment != std::string::npos) body.erase(comment);
      (*defines_)[tail.substr(0, n)] = Define{body, file_, line};
      return;
    }
    if (name == "pragma") return;
    // A header may guard itself against a second inclusion; the guard changes nothing here.
    if (isHeader_ && (name == "ifndef" || name == "endif")) return;
    Fail(line, "#" + name + " is not supported");
  }

  std::string file_;
  std::map<std::string, Define>* defines_;
  std::string* headerName_;
  bool isHeader_;
};

// Reads the statements of the script from its tokens.
class Parser {
 public:
  Parser(Reader& reader, std::vector<Token> tokens, const std::map<std::string, Define>& defines,
         const std::string& headerName)
      : reader_(reader), tokens_(std::move(tokens)), defines_(defines), headerName_(headerName) {}

  std::map<std::string, DialogTemplate> Script() {
    std::map<std::string, DialogTemplate> dialogs;
    std::string language;
    while (Peek().kind != Token::End) {
      if (IsName(Peek(), "LANGUAGE")) {
        Next();
        language = Language();
        continue;
      }
      Token nameToken = Next();
      if (IsName(nameToken, "STRINGTABLE")) reader_.Fail(nameToken.line, "STRINGTABLE is not supported");
      std::string name = ResourceName(nameToken);
      const Token& type = Next();
      if (IsName(type, "ICON")) {
        MemoryFlags();
        Expect(Token::String, "an icon file name");
        continue;
      }
      bool extended = IsName(type, "DIALOGEX");
      if (!extended && !IsName(type, "DIALOG")) {
        if (type.kind == Token::End) reader_.Fail(type.line, "resource " + name + " has no type");
        reader_.Fail(type.line, "resource type " + Text(type) + " is not supported");
      }
      DialogTemplate dialog = Dialog(name, extended);
      if (dialog.language.empty()) dialog.language = language;
      if (!dialogs.emplace(name, std::move(dialog)).second)
        reader_.Fail(nameToken.line, "dialog " + name + " is defined twice");
    }
    return dialogs;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() {
    const Token& token = tokens_[pos_];
    if (token.kind != Token::End) ++pos_;
    return token;
  }
  static bool IsName(const Token& token, const char* keyword) {
    return token.kind == Token::Name && token.text == keyword;
  }
  static bool IsPunct(const Token& token, char c) { return token.kind == Token::Punct && token.text[0] == c; }
  static std::string Text(const Token& token) {
    switch (token.kind) {
      case Token::End: return "the end of the file";
      case Token::Number: return std::to_string(token.number);
      case Token::String: return "\"" + token.text + "\"";
      default: return token.text;
    }
  }
  const Token& Expect(Token::Kind kind, const char* what) {
    if (Peek().kind != kind) reader_.Fail(Peek().line, std::string("expected ") + what + ", found " + Text(Peek()));
    return Next();
  }
  void Comma() {
    if (!IsPunct(Peek(), ',')) reader_.Fail(Peek().line, "expected ',', found " + Text(Peek()));
    Next();
  }
  bool OptionalComma() {
    if (!IsPunct(Peek(), ',')) return false;
    Next();
    return true;
  }

  // Resource names are case-insensitive: rc stores them in capitals. A name that the header
  // defines is that number, as the preprocessor makes it.
  std::string ResourceName(const Token& token) {
    if (token.kind == Token::Number) return "#" + std::to_string(token.number);
    if (token.kind == Token::String) return UpperAscii(token.text);
    if (token.kind == Token::Name) {
      if (defines_.count(token.text) != 0)
        return std::string(1, '#').append(std::to_string(Value(token.text, token.line, 0) & 0xFFFF));
      return UpperAscii(token.text);
    }
    reader_.Fail(token.line, "expected a resource name, found " + Text(token));
  }

  void MemoryFlags() {
    static const char* const kFlags[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE", "PRELOAD", "LOADONCALL"};
    for (;;) {
      bool flag = false;
      for (const char* f : kFlags) flag = flag || IsName(Peek(), f);
      if (!flag) return;
      Next();
    }
  }

  std::string Language() {
    const Token& primary = Next();
    Comma();
    const Token& sub = Next();
    for (const Token* t : {&primary, &sub})
      if (t->kind != Token::Name && t->kind != Token::Number)
        reader_.Fail(t->line, "expected a language name, found " + Text(*t));
    return Text(primary) + ", " + Text(sub);
  }

  // The value of a name: the script's own #define lines first, then the known table.
  std::int64_t Value(const std::string& name, int line, int depth) {
    auto define = defines_.find(name);
    if (define != defines_.end()) {
      if (depth > kMaxDefineDepth) reader_.Fail(line, "#define " + name + " refers to itself");
      Reader bodyReader(define->second.file, nullptr, nullptr);
      Parser body(bodyReader, bodyReader.Tokenize(define->second.body, define->second.line, false), defines_,
                  headerName_);
      if (body.Peek().kind == Token::End) reader_.Fail(line, name + " is defined without a value");
      std::int64_t value = body.Expression(depth + 1);
      if (body.Peek().kind != Token::End)
        bodyReader.Fail(define->second.line, "unexpected " + Text(body.Peek()) + " in #define " + name);
      return value;
    }
    for (const NamedValue& known : kKnownNames)
      if (name == known.name) return known.value;
    reader_.Fail(line, "unknown name " + name);
  }

  // Numeric expressions: | & + - ~ and parentheses over numbers and names.
  std::int64_t Expression(int depth = 0) {
    std::int64_t value = AndExpression(depth);
    while (IsPunct(Peek(), '|')) {
      Next();
      value |= AndExpression(depth);
    }
    return value;
  }
  std::int64_t AndExpression(int depth) {
    std::int64_t value = Sum(depth);
    while (IsPunct(Peek(), '&')) {
      Next();
      value &= Sum(depth);
    }
    return value;
  }
  std::int64_t Sum(int depth) {
    std::int64_t value = Unary(depth);
    while (IsPunct(Peek(), '+') || IsPunct(Peek(), '-')) {
      bool plus = Next().text[0] == '+';
      std::int64_t rhs = Unary(depth);
      value = plus ? value + rhs : value - rhs;
    }
    return value;
  }
  std::int64_t Unary(int depth) {
    const Token& token = Next();
    if (IsPunct(token, '-')) return -Unary(depth);
    if (IsPunct(token, '~')) return ~Unary(depth);
    if (IsPunct(token, '(')) {
      std::int64_t value = Expression(depth);
      if (!IsPunct(Peek(), ')')) reader_.Fail(Peek().line, "expected ')', found " + Text(Peek()));
      Next();
      return value;
    }
    if (token.kind == Token::Number) return token.number;
    if (token.kind == Token::Name && token.text != "NOT") return Value(token.text, token.line, depth);
    reader_.Fail(token.line, "expected a number, found " + Text(token));
  }
  int Coordinate() { return static_cast<std::int16_t>(Expression() & 0xFFFF); }

  // "x, y, cx, cy": where a dialog or a control stands, and its size.
  template <typename Template>
  void Rectangle(Template& t) {
    t.x = Coordinate();
    Comma();
    t.y = Coordinate();
    Comma();
    t.cx = Coordinate();
    Comma();
    t.cy = Coordinate();
  }

  // A style: terms joined by |, each added to the implicit style, or taken from it after NOT.
  std::uint32_t Style(std::uint32_t implicit) {
    std::uint32_t style = implicit;
    for (;;) {
      bool clear = IsName(Peek(), "NOT");
      if (clear) Next();
      auto value = static_cast<std::uint32_t>(Sum(0));
      style = clear ? style & ~value : style | value;
      if (!IsPunct(Peek(), '|')) return style;
      Next();
    }
  }

  DialogTemplate Dialog(const std::string& name, bool extended) {
    DialogTemplate dialog;
    dialog.name = name;
    dialog.extended = extended;
    MemoryFlags();
    Rectangle(dialog);
    if (IsPunct(Peek(), ',')) reader_.Fail(Peek().line, "a help ID on a dialog is not supported");

    // Without STYLE a dialog is WS_POPUP | WS_BORDER | WS_SYSMENU; CAPTION and FONT add their
    // own bits whether they come before or after STYLE.
    std::optional<std::uint32_t> given;
    std::uint32_t added = 0;
    for (;;) {
      const Token& statement = Peek();
      if (IsName(statement, "BEGIN") || IsPunct(statement, '{')) break;
      Next();
      if (IsName(statement, "STYLE")) {
        given = Style(0);
      } else if (IsName(statement, "EXSTYLE")) {
        dialog.exStyle = Style(0);
      } else if (IsName(statement, "CAPTION")) {
        dialog.caption = Expect(Token::String, "a caption").text;
        added |= 0x00C00000;  // WS_CAPTION
      } else if (IsName(statement, "FONT")) {
        Font(dialog, statement.line);
        added |= 0x40;  // DS_SETFONT
      } else if (IsName(statement, "LANGUAGE")) {
        dialog.language = Language();
      } else {
        reader_.Fail(statement.line, "dialog statement " + Text(statement) + " is not supported");
      }
    }
    dialog.style = given.value_or(0x80880000) | added;
    Next();
    for (;;) {
      const Token& statement = Peek();
      if (IsName(statement, "END") || IsPunct(statement, '}')) break;
      if (statement.kind == Token::End) reader_.Fail(statement.line, "dialog " + name + " has no END");
      Next();
      dialog.controls.push_back(Control(statement));
    }
    Next();
    return dialog;
  }

  void Font(DialogTemplate& dialog, int line) {
    dialog.fontSize = static_cast<int>(Expression());
    Comma();
    dialog.fontName = Expect(Token::String, "a font name").text;
    if (dialog.extended) dialog.fontCharset = 1;  // DEFAULT_CHARSET unless the script says
    if (!OptionalComma()) return;
    if (!dialog.extended) reader_.Fail(line, "a font weight, italic and character set need DIALOGEX");
    dialog.fontWeight = static_cast<int>(Expression());
    Comma();
    dialog.fontItalic = static_cast<int>(Expression());
    Comma();
    dialog.fontCharset = static_cast<int>(Expression());
  }

  // One control line. rc gives each kind its implicit style; a style given is added to it.
  ControlTemplate Control(const Token& kind) {
    constexpr std::uint32_t kChildVisible = 0x50000000;  // WS_CHILD | WS_VISIBLE
    constexpr std::uint32_t kTabstop = 0x00010000, kGroup = 0x00020000;
    ControlTemplate control;
    std::uint32_t implicit = 0;
    bool generic = false;
    if (IsName(kind, "DEFPUSHBUTTON")) {
      control.className = "button";
      implicit = kChildVisible | kTabstop | 0x1;  // BS_DEFPUSHBUTTON
    } else if (IsName(kind, "PUSHBUTTON")) {
      control.className = "button";
      implicit = kChildVisible | kTabstop;  // BS_PUSHBUTTON
    } else if (IsName(kind, "LTEXT")) {
      control.className = "static";
      implicit = kChildVisible | kGroup;  // SS_LEFT
    } else if (IsName(kind, "CONTROL")) {
      generic = true;
      implicit = kChildVisible;
    } else {
      reader_.Fail(kind.line, "control " + Text(kind) + " is not supported");
    }
    control.text = Expect(Token::String, "the control's text").text;
    Comma();
    control.id = static_cast<int>(Expression());
    Comma();
    if (generic) {
      control.className = Expect(Token::String, "a window class").text;
      // The system's own classes are matched without regard to case.
      std::string upper = UpperAscii(control.className);
      if (upper == "BUTTON" || upper == "STATIC") control.className = upper == "BUTTON" ? "button" : "static";
      Comma();
      control.style = Style(implicit);
      Comma();
    }
    Rectangle(control);
    if (generic) {
      if (OptionalComma()) control.exStyle = static_cast<std::uint32_t>(Expression());
    } else {
      control.style = implicit;
      if (OptionalComma()) {
        // As windres builds it: a style given to LTEXT starts from SS_LEFT alone, without the
        // WS_GROUP that LTEXT has when no style is given.
        control.style = Style(control.className == "static" ? implicit & ~kGroup : implicit);
        if (OptionalComma()) control.exStyle = static_cast<std::uint32_t>(Expression());
      }
    }
    if (IsPunct(Peek(), ',')) reader_.Fail(Peek().line, "too many values for " + Text(kind));
    return control;
  }

  Reader& reader_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  const std::map<std::string, Define>& defines_;
  const std::string& headerName_;
};

}  // namespace

std::map<std::string, DialogTemplate> ParseResourceScript(const std::string& rcText, const std::string& headerText,
                                                          const std::string& fileName) {
  std::map<std::string, Define> defines;
  std::string headerName = "resource.h";
  Reader script(fileName, &defines, &headerName);
  std::vector<Token> tokens = script.Tokenize(rcText, 1, true);

  // The header is read for its #define lines only, under the name the script includes it by.
  std::map<std::string, Define> headerDefines;
  Reader header(headerName, &headerDefines, nullptr, true);
  for (const Token& token : header.Tokenize(headerText, 1, true)) {
    if (token.kind != Token::End) header.Fail(token.line, "only #define lines are read here, found " + token.text);
  }
  for (auto& [name, define] : headerDefines) defines.emplace(name, std::move(define));

  Parser parser(script, std::move(tokens), defines, headerName);
  return parser.Script();
}

}  // namespace sim
