// Declarative command-line parser driven by a table of option rows.
//
// opt_check() parses every row into an OptionType (names, type, number, value
// list), validates the rows, scans the argument vector against them and
// rewrites the table to the normalised descriptions. opt_scan() then converts
// a row's values for the caller. All parsed state lives in this module until
// the process ends (or opt_reset() drops it).
#include "switch2.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "basic.h"
#include "complist.h"
#include "string1.h"
#include "switch.h"

namespace {

// Type codes.
constexpr int kTypeStr = 1;
constexpr int kTypeChar = 2;
constexpr int kTypeInt = 4;
constexpr int kTypeDouble = 8;
constexpr int kTypeFlag = 16;
constexpr int kTypeToggle = 32;
constexpr int kFlagKinds = kTypeFlag | kTypeToggle;

// Number codes.
constexpr int kNumberZero = 512;
constexpr int kNumberOne = 1024;
constexpr int kNumberLr = 2048;
constexpr int kNumberList = 4096;

// Flag values.
constexpr int kFlagOff = 8192;
constexpr int kFlagOn = 16384;

// Position markers.
constexpr int kMarkHead = 0x40;
constexpr int kMarkTail = 0x80;
constexpr int kMarkAll = 0x100;

constexpr int kExitFailure = 9;
constexpr const char *kModule = "switch2";
// What the user's option errors start with: the module's name, unless the
// program named itself.
const char *user_prefix = kModule;
constexpr const char *kBlanks = " \t";

struct _OPTION_TYPE {
  int status = 0;                // 1 once given or fed positional words
  CompList *option = nullptr;    // names, markers included, in row order
  int type = 0;                  // type code, 0 until known
  int number = 0;                // number code, 0 until known
  CompList *retvalue = nullptr;  // defaults first, then command-line values; may hold NULL
};
using OptionType = _OPTION_TYPE;

// Everything the facility allocates, so that opt_reset() can release it.
// Deliberately not a static object: it is never destroyed at exit, so values
// stay valid for atexit handlers and static destructors elsewhere.
struct Storage {
  std::vector<std::unique_ptr<OptionType>> rows;
  std::vector<CompList *> lists;
  std::vector<std::unique_ptr<char[]>> strings;
};

// The arguments left after the library options; they point into the caller's vector.
using Arguments = std::vector<const char *>;

Storage *storage = nullptr;
CompList *optionlist = nullptr;  // OptionType rows in table order
CompList *head_list = nullptr;   // leading positional words, with a "(head)" row only
CompList *tail_list = nullptr;   // pending trailing words, with a "(tail)" row only
CompList *all_list = nullptr;    // every positional word, with an "(all)" row only
char _switch2_debug_flag = 0;    // print the BEFORE and AFTER dumps
char _option_debug_flag = 0;     // "--option_debug" given: exit after the dumps
bool leading_run = true;         // no short cluster or long option seen yet

void (*exit_handler)(int) = nullptr;  // takes the place of exit() when set

}  // namespace

// Every process end of the facility goes through here.
[[noreturn]] static void switch2_end(int status) {
  if (exit_handler != nullptr) exit_handler(status);
  std::exit(status);
}

[[noreturn]] static void illegal_option(const char *arg) {
  std::fprintf(stderr, "%s: illegal option, %s\n", user_prefix, arg);
  switch2_end(kExitFailure);
}

static char *keep_string(std::string_view text) {
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  storage->strings.push_back(std::move(copy));
  return storage->strings.back().get();
}

static CompList *new_list() {
  CompList *list = complist_new();
  if (list == nullptr) switch2_end(kExitFailure);  // complist has reported it
  storage->lists.push_back(list);
  return list;
}

static void add_string(CompList *list, const char *text) {
  complist_add(list, const_cast<char *>(text));
}

static bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The number-th (from 1) maximal run of characters not in `delims`.
static std::optional<std::string_view> nth_token(std::string_view text, std::string_view delims,
                                                 int number) {
  size_t pos = 0;
  while (number > 0) {
    pos = text.find_first_not_of(delims, pos);
    if (pos == std::string_view::npos) return std::nullopt;
    size_t end = text.find_first_of(delims, pos);
    if (end == std::string_view::npos) end = text.size();
    if (--number == 0) return text.substr(pos, end - pos);
    pos = end;
  }
  return std::nullopt;
}

// Next blank-separated word of a row, without escapes; advances `rest`.
static std::optional<std::string_view> next_word(std::string_view &rest) {
  size_t start = rest.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) {
    rest = {};
    return std::nullopt;
  }
  size_t end = rest.find_first_of(kBlanks, start);
  if (end == std::string_view::npos) end = rest.size();
  std::string_view word = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return word;
}

static std::string lowered(std::string_view text) {
  std::string copy(text);
  strlower(copy.data());
  return copy;
}

// Base-10 value narrowed to int; out-of-range values saturate, as strtol's own do.
static int str2int(const char *value) {
  long n = std::strtol(value, nullptr, 10);
  return static_cast<int>(std::clamp<long>(n, INT_MIN, INT_MAX));
}

static const char *get_retvalue(const OptionType *opt, int pos) {
  return static_cast<const char *>(complist_getdata(opt->retvalue, pos));
}

static OptionType *row_at(int pos) {
  return static_cast<OptionType *>(complist_getdata(optionlist, pos));
}

static int str2opttype(const char *str) {
  static const struct {
    const char *word;
    int code;
  } kTypes[] = {{"str", kTypeStr},       {"char", kTypeChar}, {"int", kTypeInt},
                {"double", kTypeDouble}, {"flag", kTypeFlag}, {"toggle", kTypeToggle}};
  for (const auto &t : kTypes)
    if (std::strcmp(str, t.word) == 0) return t.code;
  return 0;
}

static int str2optnumber(const char *str) {
  static const struct {
    const char *word;
    int code;
  } kNumbers[] = {
      {"zero", kNumberZero}, {"one", kNumberOne}, {"lr", kNumberLr}, {"list", kNumberList}};
  for (const auto &n : kNumbers)
    if (std::strcmp(str, n.word) == 0) return n.code;
  return 0;
}

static const char *opttype2str(int type) {
  switch (type) {
    case kTypeStr:
      return "str";
    case kTypeChar:
      return "char";
    case kTypeInt:
      return "int";
    case kTypeDouble:
      return "double";
    case kTypeFlag:
      return "flag";
    default:
      return "toggle";
  }
}

static const char *optnumber2str(int number) {
  switch (number) {
    case kNumberZero:
      return "zero";
    case kNumberOne:
      return "one";
    case kNumberLr:
      return "lr";
    default:
      return "list";
  }
}

static int str2flagvalue(const char *str) {
  if (str == nullptr) return kFlagOff;
  std::string word = lowered(str);
  for (const char *on : {"1", "on", "yes", "true"})
    if (word == on) return kFlagOn;
  return kFlagOff;
}

static const char *flagvalue2str(int value) {
  return value == kFlagOn ? "on" : "off";
}

// Union of the marker bits among the row's names.
static int check_enumtype(const OptionType *opt) {
  int bits = 0;
  for (int i = 1; i <= complist_numberof(opt->option); ++i) {
    const char *name = static_cast<const char *>(complist_getdata(opt->option, i));
    if (std::strcmp(name, "(head)") == 0) bits |= kMarkHead;
    if (std::strcmp(name, "(tail)") == 0) bits |= kMarkTail;
    if (std::strcmp(name, "(all)") == 0) bits |= kMarkAll;
  }
  return bits;
}

// The marker bits when every name of the row is a marker, else 0.
static int check_enumonly(const OptionType *opt) {
  int n = complist_numberof(opt->option);
  if (n == 0) return 0;
  int bits = 0;
  for (int i = 1; i <= n; ++i) {
    const char *name = static_cast<const char *>(complist_getdata(opt->option, i));
    if (std::strcmp(name, "(head)") == 0) {
      bits |= kMarkHead;
    } else if (std::strcmp(name, "(tail)") == 0) {
      bits |= kMarkTail;
    } else if (std::strcmp(name, "(all)") == 0) {
      bits |= kMarkAll;
    } else {
      return 0;
    }
  }
  return bits;
}

static bool check_keyword(const OptionType *opt, std::string_view keyword) {
  for (int i = 1; i <= complist_numberof(opt->option); ++i)
    if (keyword == static_cast<const char *>(complist_getdata(opt->option, i))) return true;
  return false;
}

static bool is_flag_kind(const OptionType *opt) {
  return (opt->type & kFlagKinds) != 0;
}

static int check_specify(const OptionType *opt) {
  return str2flagvalue(get_retvalue(opt, 1)) == kFlagOn ? 1 : 0;
}

// Reads the next default word of a row into `word`, advancing `rest`. A
// backslash before a space or 't' stands for a space or a tab inside the word;
// any other backslash is kept and the character after it is read normally.
static bool get_defvalue(std::string_view &rest, std::string &word) {
  size_t i = rest.find_first_not_of(kBlanks);
  if (i == std::string_view::npos) {
    rest = {};
    return false;
  }
  word.clear();
  while (i < rest.size() && !is_blank(rest[i])) {
    if (rest[i] == '\\' && i + 1 < rest.size() && (rest[i + 1] == ' ' || rest[i + 1] == 't')) {
      word += rest[i + 1] == ' ' ? ' ' : '\t';
      i += 2;
    } else {
      word += rest[i++];
    }
  }
  rest.remove_prefix(i);
  return true;
}

static OptionType *decompose_optiontype(const char *row) {
  storage->rows.push_back(std::make_unique<OptionType>());
  OptionType *opt = storage->rows.back().get();
  opt->option = new_list();
  opt->retvalue = new_list();

  std::string_view rest = row;
  if (auto names = next_word(rest)) {
    for (int i = 1; auto name = nth_token(*names, ",", i); ++i)
      add_string(opt->option, keep_string(*name));
  }
  if (auto kinds = next_word(rest)) {
    for (int i = 1; auto item = nth_token(*kinds, ",", i); ++i) {
      std::string word = lowered(*item);
      if (int type = str2opttype(word.c_str())) {
        opt->type = type;
      } else if (int number = str2optnumber(word.c_str())) {
        opt->number = number;
      } else {
        std::fprintf(stderr, "%s: unrecognized type, '%s'\n", kModule, word.c_str());
        switch2_end(kExitFailure);
      }
    }
  }
  std::string word;
  while (get_defvalue(rest, word))
    add_string(opt->retvalue, word == "(null)" ? nullptr : keep_string(word));
  return opt;
}

static void supplement_optiontype(OptionType *opt) {
  if (check_enumtype(opt) != 0) {
    if (opt->type == 0) opt->type = kTypeStr;
    if (opt->number == 0) opt->number = kNumberList;
  }
  if (opt->type == 0) opt->type = kTypeFlag;
  if (opt->number == 0) opt->number = is_flag_kind(opt) ? kNumberZero : kNumberOne;
}

// Non-zero when the row's type and number do not go together.
static int check_intra_collision(const OptionType *opt) {
  bool marked = check_enumtype(opt) != 0;
  if (marked &&
      (opt->type != kTypeStr || (opt->number != kNumberOne && opt->number != kNumberList)))
    return 1;
  if (is_flag_kind(opt)) return opt->number != kNumberZero;
  if (!marked && opt->number == kNumberZero) return 1;
  if (opt->number == kNumberList && opt->type != kTypeStr) return 1;
  return 0;
}

static void check_inter_collision() {
  int k = complist_numberof(optionlist);
  for (int i = 1; i < k; ++i) {
    const OptionType *a = row_at(i);
    for (int j = i + 1; j <= k; ++j) {
      const OptionType *b = row_at(j);
      for (int n = 1; n <= complist_numberof(a->option); ++n) {
        if (check_keyword(b, static_cast<const char *>(complist_getdata(a->option, n)))) {
          std::fprintf(stderr, "%s: option error detected, between lines %d & %d\n", kModule, i, j);
          switch2_end(kExitFailure);
        }
      }
    }
  }
}

// Drops the library options from the argument vector: "--option_debug" turns
// the dumps on, "--library_version" prints the banner and ends the process.
static Arguments check_default_options(int argc, char **argv) {
  Arguments kept;
  bool dropped = false;
  for (int i = 0; argv != nullptr && i < argc; ++i) {
    const char *arg = argv[i];
    if (arg == nullptr) continue;
    if (std::strcmp(arg, "--option_debug") == 0) {
      dropped = true;
    } else if (std::strcmp(arg, "--library_version") == 0) {
      char *banner = vembo_version();
      std::printf("%s\n", banner != nullptr ? banner : "");
      std::free(banner);
      switch2_end(0);
    } else {
      kept.push_back(arg);
    }
  }
  if (dropped) {
    _option_debug_flag = 1;
    _switch2_debug_flag = 1;
  }
  return kept;
}

// First row, in table order, that the key names; rows of markers only never match.
static OptionType *find_optiontype(std::string_view key) {
  for (int i = 1; i <= complist_numberof(optionlist); ++i) {
    OptionType *opt = row_at(i);
    if (check_enumonly(opt) == 0 && check_keyword(opt, key)) return opt;
  }
  return nullptr;
}

// Records one use of a row. A flag kind takes `value` as an explicit on/off
// word when present; a valued kind takes it as its value.
static void store_optionvalue(OptionType *opt, std::optional<std::string_view> value) {
  int previous = str2flagvalue(get_retvalue(opt, 1));
  if (opt->number != kNumberList) complist_clear(opt->retvalue);
  if (is_flag_kind(opt)) {
    int now = kFlagOn;
    if (value) {
      now = str2flagvalue(std::string(*value).c_str());
    } else if (opt->type == kTypeToggle) {
      now = previous == kFlagOn ? kFlagOff : kFlagOn;
    }
    add_string(opt->retvalue, keep_string(flagvalue2str(now)));
  } else if (opt->number == kNumberLr) {
    std::optional<std::string_view> left;
    std::optional<std::string_view> right;
    if (!value->empty() && value->front() == '-') {
      right = nth_token(*value, "-", 1);
    } else {
      left = nth_token(*value, "-", 1);
      right = nth_token(*value, "-", 2);
    }
    add_string(opt->retvalue, left ? keep_string(*left) : nullptr);
    add_string(opt->retvalue, right ? keep_string(*right) : nullptr);
  } else {
    add_string(opt->retvalue, keep_string(*value));
  }
  opt->status = 1;
}

// Words waiting in tail_list may stay only where a "(head)" or "(all)" row
// can take them; otherwise they sit between options and are illegal.
static void check_tail_list() {
  if (tail_list == nullptr) return;
  if (complist_numberof(tail_list) == 0 || all_list != nullptr ||
      (leading_run && head_list != nullptr)) {
    complist_clear(tail_list);
    return;
  }
  std::fprintf(stderr, "%s: illegal option", user_prefix);
  for (int i = 1; i <= complist_numberof(tail_list); ++i)
    std::fprintf(stderr, ", %s", static_cast<const char *>(complist_getdata(tail_list, i)));
  std::fprintf(stderr, "\n");
  switch2_end(kExitFailure);
}

// "-abc": flags one after another; a valued letter ends the cluster and takes
// the rest of the cluster or else the next argument, whatever it looks like.
static void check_short_option(const Arguments &args, size_t &index) {
  const char *arg = args[index];
  check_tail_list();
  for (const char *p = arg + 1; *p != '\0'; ++p) {
    OptionType *opt = find_optiontype(std::string_view(p, 1));
    if (opt == nullptr) illegal_option(arg);
    if (is_flag_kind(opt)) {
      store_optionvalue(opt, std::nullopt);
      continue;
    }
    if (p[1] != '\0') {
      store_optionvalue(opt, p + 1);
    } else if (index + 1 < args.size()) {
      store_optionvalue(opt, args[++index]);
    } else {
      std::fprintf(stderr, "%s: no value was found, -%c\n", user_prefix, *p);
      switch2_end(kExitFailure);
    }
    break;
  }
  leading_run = false;
}

// "--name[=value]" (dashed) or "name=value". The key is the first "="-token of
// the name part, the explicit value the second "="-token of the whole argument.
static void check_long_option(const Arguments &args, size_t &index, bool dashed) {
  const char *arg = args[index];
  if (dashed) check_tail_list();
  std::optional<std::string_view> key = nth_token(dashed ? arg + 2 : arg, "=", 1);
  std::optional<std::string_view> value = nth_token(arg, "=", 2);
  OptionType *opt = key ? find_optiontype(*key) : nullptr;
  if (opt == nullptr) illegal_option(arg);
  if (!is_flag_kind(opt) && !value) {
    if (index + 1 >= args.size()) {
      std::fprintf(stderr, "%s: no value was found, %s\n", user_prefix, arg);
      switch2_end(kExitFailure);
    }
    value = args[++index];
  }
  store_optionvalue(opt, value);
  if (dashed) leading_run = false;
}

static void check_positional(const char *arg) {
  bool kept = false;
  const char *word = nullptr;
  for (CompList *list : {leading_run ? head_list : nullptr, tail_list, all_list}) {
    if (list == nullptr) continue;
    if (word == nullptr) word = keep_string(arg);
    add_string(list, word);
    kept = true;
  }
  if (!kept) illegal_option(arg);
}

static void scan_arguments(const Arguments &args) {
  leading_run = true;
  for (size_t i = 1; i < args.size(); ++i) {
    const char *arg = args[i];
    if (arg[0] == '-' && arg[1] != '\0' && arg[1] != '-') {
      check_short_option(args, i);
    } else if (arg[0] == '-' && arg[1] == '-' && arg[2] != '\0' && arg[2] != '-') {
      check_long_option(args, i, true);
    } else if (std::strchr(arg, '=') != nullptr) {
      check_long_option(args, i, false);
    } else {
      check_positional(arg);
    }
  }
}

static void set_retvalue_sub(OptionType *opt, CompList *words) {
  int n = complist_numberof(words);
  for (int i = 1; i <= n; ++i) complist_add(opt->retvalue, complist_getdata(words, i));
  if (n > 0) opt->status = 1;
}

static void set_enum_retvalue() {
  for (int i = 1; i <= complist_numberof(optionlist); ++i) {
    OptionType *opt = row_at(i);
    int bits = check_enumtype(opt);
    if (bits & kMarkAll) {
      set_retvalue_sub(opt, all_list);
      continue;
    }
    if (bits & kMarkHead) set_retvalue_sub(opt, head_list);
    if (bits & kMarkTail) set_retvalue_sub(opt, tail_list);
  }
}

// "names type,number [value] [value] ...", e.g. 'repeat int,one [-1]'. The
// text grows as needed, so descriptions of any length are kept whole.
static std::string compose_optiontype(const OptionType *opt) {
  std::string text;
  for (int i = 1; i <= complist_numberof(opt->option); ++i) {
    if (i > 1) text += ',';
    text += static_cast<const char *>(complist_getdata(opt->option, i));
  }
  text += ' ';
  text += opttype2str(opt->type);
  text += ',';
  text += optnumber2str(opt->number);
  text += ' ';
  for (int i = 1; i <= complist_numberof(opt->retvalue); ++i) {
    if (i > 1) text += ' ';
    const char *value = get_retvalue(opt, i);
    text += '[';
    text += value != nullptr ? value : "(null)";
    text += ']';
  }
  return text;
}

static void print_table(const char *title, const char *closing, char **options) {
  std::printf("%s", title);
  for (int i = 0; options[i] != nullptr; ++i) std::printf("%s\n", options[i]);
  std::printf("%s", closing);
}

void opt_check(int argc, char **argv, char **options) {
  if (optionlist != nullptr) {
    std::fprintf(stderr, "%s: duplicate call, opt_check\n", kModule);
    switch2_end(kExitFailure);
  }
  storage = new Storage;
  optionlist = new_list();

  const Arguments args = check_default_options(argc, argv);
  if (options == nullptr) return;
  if (_switch2_debug_flag) print_table("--- BEFORE ---\n", "--------------\n", options);

  // Element 0 is the placeholder; a table whose element 0 is already the
  // terminator has no rows and is left untouched.
  int rows = 0;
  if (options[0] != nullptr) {
    for (int i = 1; options[i] != nullptr; ++i) {
      OptionType *opt = decompose_optiontype(options[i]);
      supplement_optiontype(opt);
      if (check_intra_collision(opt)) {
        std::fprintf(stderr, "%s: option error detected, at line %d\n", kModule, i);
        switch2_end(kExitFailure);
      }
      complist_add(optionlist, opt);
      rows = i;
    }
  }
  check_inter_collision();

  int markers = 0;
  for (int i = 1; i <= rows; ++i) markers |= check_enumtype(row_at(i));
  if (markers & kMarkHead) head_list = new_list();
  if (markers & kMarkTail) tail_list = new_list();
  if (markers & kMarkAll) all_list = new_list();

  // Without any argument, or with a path ending in "/", there is no name.
  char *name = args.empty() ? nullptr : getProgram(args[0]);
  const char *program = keep_string(name != nullptr ? name : "");
  std::free(name);

  scan_arguments(args);
  set_enum_retvalue();

  if (options[0] != nullptr) {
    options[0] = const_cast<char *>(program);
    for (int i = 1; i <= rows; ++i) options[i] = keep_string(compose_optiontype(row_at(i)));
    options[rows + 1] = nullptr;
  }

  if (_switch2_debug_flag) print_table("--- AFTER ---\n", "-------------\n", options);
  if (_option_debug_flag) switch2_end(0);
}

int opt_scan(const char *keyword, ...) {
  if (optionlist == nullptr || keyword == nullptr) return 0;
  OptionType *opt = nullptr;
  for (int i = 1; opt == nullptr && i <= complist_numberof(optionlist); ++i)
    if (check_keyword(row_at(i), keyword)) opt = row_at(i);
  if (opt == nullptr) return 0;

  if (is_flag_kind(opt)) return check_specify(opt);

  const int count = opt->number == kNumberLr ? 2 : 1;
  int result = opt->status;
  va_list ap;
  va_start(ap, keyword);
  if (opt->type == kTypeStr && opt->number == kNumberList) {
    char ***out = va_arg(ap, char ***);
    result = complist_numberof(opt->retvalue);
    if (out != nullptr) {
      auto *values = static_cast<char **>(std::malloc((result + 1) * sizeof(char *)));
      if (values != nullptr) {
        for (int i = 1; i <= result; ++i) values[i - 1] = const_cast<char *>(get_retvalue(opt, i));
        values[result] = nullptr;
      }
      *out = values;
    }
  } else {
    for (int pos = 1; pos <= count; ++pos) {
      const char *value = get_retvalue(opt, pos);
      switch (opt->type) {
        case kTypeStr:
          if (char **out = va_arg(ap, char **)) *out = const_cast<char *>(value);
          break;
        case kTypeChar:
          if (char *out = va_arg(ap, char *)) *out = value != nullptr ? value[0] : '\0';
          break;
        case kTypeInt:
          if (int *out = va_arg(ap, int *)) *out = value != nullptr ? str2int(value) : 0;
          break;
        default:
          if (double *out = va_arg(ap, double *))
            *out = value != nullptr ? std::strtod(value, nullptr) : 0.0;
          break;
      }
    }
  }
  va_end(ap);
  return result;
}

void opt_exit(int status, void (*func)()) {
  if (func != nullptr) func();
  switch2_end(status);
}

void opt_setExitHandler(void (*handler)(int status)) {
  exit_handler = handler;
}

void opt_setDebugMode(char flag) {
  _switch2_debug_flag = flag;
}

void opt_reset() {
  if (storage != nullptr) {
    for (CompList *list : storage->lists) {
      complist_clear(list);
      delete list;
    }
    delete storage;
  }
  storage = nullptr;
  optionlist = head_list = tail_list = all_list = nullptr;
  _switch2_debug_flag = 0;
  _option_debug_flag = 0;
  leading_run = true;
}

void opt_setMessagePrefix(const char *program) {
  static std::string name;
  if (program == nullptr || *program == '\0') {
    user_prefix = kModule;
    return;
  }
  name = program;
  name = name.substr(name.rfind('/') + 1);
  user_prefix = name.c_str();
}
