// Script generation: a uiautomator2 replay script from the recorded actions.
//
// Every value put into the script goes through the code text helpers: a
// string-literal escape inside "...", a comment escape after #, and a literal
// rendering in numeric positions, so no recorded or imported value can change
// the structure of the script.
//
// The generators call each other through `self`. When the method found there
// is the recorder's own (not overridden), its work runs directly and its lines
// go straight into the script text instead of through lists of str.
#include "mirvane.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace zv::mirvane {

namespace {

// The script is built as code points and turned into one str at the end.
using Text = std::u32string;

// The str of `text`: written straight into a UCS-2 str when its largest
// code point needs one (generated code: ASCII with CJK text).
py::str to_str(const Text &text) {
    const auto n = (Py_ssize_t)text.size();
    PyObject *s = PyUnicode_New(n, 0xFFFF);
    if (!s) throw py::error_already_set();
    py::str str = py::reinterpret_steal<py::str>(s);
    auto *out = (Py_UCS2 *)PyUnicode_DATA(s);
    char32_t bits = 0;  // some code point >= 0x100 iff bits >= 0x100; all <= 0xFFFF iff bits <= 0xFFFF
    for (Py_ssize_t i = 0; i < n; ++i) {
        bits |= text[i];
        out[i] = (Py_UCS2)text[i];
    }
    if (bits >= 0x100 && bits <= 0xFFFF) return str;
    s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), n);
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

// str(value)
py::object str_of(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::object>(value);
    PyObject *s = PyObject_Str(value.ptr());
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

const char kHex[] = "0123456789abcdef";

// Appends code points, escaped for a "..." literal (Quotes) or a # comment:
// \ " and control characters as \\ \" \n \r \t or \xNN, a lone surrogate as
// \uNNNN.
template <bool Quotes, class C>
void escape(Text &out, const C *p, std::size_t n) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = p[i];
        const bool surrogate = c >= 0xD800 && c < 0xE000;
        if (!(c < 0x20 || c == 0x7f || surrogate || (Quotes && (c == '\\' || c == '"')))) continue;
        out.append(p + start, p + i);
        start = i + 1;
        if (surrogate) {
            out += U"\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += (char32_t)kHex[(c >> shift) & 15];
            continue;
        }
        switch (c) {
            case '\\': out += U"\\\\"; break;
            case '"': out += U"\\\""; break;
            case '\n': out += U"\\n"; break;
            case '\r': out += U"\\r"; break;
            case '\t': out += U"\\t"; break;
            default:
                out += U"\\x";
                out += (char32_t)kHex[c >> 4];
                out += (char32_t)kHex[c & 15];
        }
    }
    out.append(p + start, p + n);
}

// Appends the code points of a str, escaped as `Escape` says (0: as is).
template <int Escape>
void append_str(Text &out, py::handle str) {
    PyObject *s = str.ptr();
    const void *data = PyUnicode_DATA(s);
    const auto n = (std::size_t)PyUnicode_GET_LENGTH(s);
    const auto write = [&](const auto *p) {
        if constexpr (Escape == 0) out.append(p, p + n);
        else escape<Escape == 1>(out, p, n);
    };
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND: write((const Py_UCS1 *)data); break;
        case PyUnicode_2BYTE_KIND: write((const Py_UCS2 *)data); break;
        default: write((const Py_UCS4 *)data); break;
    }
}

// Pieces of one generated line.
struct Lit {  // str(value) inside a "..." literal
    py::handle value;
};
struct LitText {  // text inside a "..." literal
    std::u32string_view text;
};
struct Com {  // str(value) inside a # comment
    py::handle value;
};
struct Code {  // str(value) as is
    py::handle value;
};

void put(Text &out, std::u32string_view s) { out += s; }
template <std::size_t N>
void put(Text &out, const char32_t (&s)[N]) { out.append(s, N - 1); }
void put(Text &out, Lit p) { append_str<1>(out, str_of(p.value)); }
void put(Text &out, LitText p) { escape<true>(out, p.text.data(), p.text.size()); }
void put(Text &out, Com p) { append_str<2>(out, str_of(p.value)); }
void put(Text &out, Code p) { append_str<0>(out, str_of(p.value)); }

template <class... P>
py::str line(const P &...pieces) {
    Text s;
    (put(s, pieces), ...);
    return to_str(s);
}

// ASCII text as code points.
Text widen(std::string_view ascii) { return Text(ascii.begin(), ascii.end()); }

// The text of a number (short text kept without an allocation).
class Number {
public:
    explicit Number(std::string_view ascii) : size_(ascii.size()) {
        if (size_ <= std::size(short_)) std::copy(ascii.begin(), ascii.end(), short_);
        else long_ = widen(ascii);
    }
    explicit Number(Text text) : size_(text.size()), long_(std::move(text)) {}

    operator std::u32string_view() const {
        return long_.size() == size_ ? std::u32string_view(long_) : std::u32string_view(short_, size_);
    }

private:
    char32_t short_[32];
    std::size_t size_;
    Text long_;
};


// The text of a value in a numeric position; an exact int that fits and an
// exact float are written directly (as format(value, "") writes them).
Number num(py::handle value) {
    PyObject *v = value.ptr();
    if (PyLong_CheckExact(v)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (!overflow) {
            char buf[24];
            return Number(std::string_view(buf, std::to_chars(buf, buf + sizeof buf, n).ptr - buf));
        }
    }
    if (PyFloat_CheckExact(v)) {
        char *repr = PyOS_double_to_string(PyFloat_AS_DOUBLE(v), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (!repr) throw py::error_already_set();
        Number n(repr);
        PyMem_Free(repr);
        return n;
    }
    std::string s;
    text::number(s, value);
    Text out;
    append_str<0>(out, text::to_str(s));
    return Number(std::move(out));
}

// format(delay, ".2f"), with an exact float written directly.
Number two_decimals(py::handle delay) {
    if (PyFloat_CheckExact(delay.ptr())) {
        char buf[400];  // the longest finite double in fixed notation with 2 decimals
        const auto r = std::to_chars(buf, buf + sizeof buf, PyFloat_AS_DOUBLE(delay.ptr()), std::chars_format::fixed, 2);
        return Number(std::string_view(buf, r.ptr - buf));
    }
    PyObject *text = PyObject_Format(delay.ptr(), ".2f"_n.ptr());
    if (!text) throw py::error_already_set();
    Text s;
    put(s, Code{py::reinterpret_steal<py::object>(text)});
    return Number(std::move(s));
}

// a > number, with an exact float compared directly.
bool greater(py::handle a, double number) {
    if (PyFloat_CheckExact(a.ptr())) return PyFloat_AS_DOUBLE(a.ptr()) > number;
    return py::reinterpret_borrow<py::object>(a) > py::float_(number);
}

// not line.strip()
bool blank(py::handle line) {
    PyObject *s = line.ptr();
    if (!PyUnicode_CheckExact(s)) return !truthy(call_method(line, "strip"_n));
    const int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(s); i < n; ++i)
        if (!Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, i))) return false;
    return true;
}

// The lines of one generator call: a new list of str (its result), or, in
// the script, each line indented by four blanks and a blank one left empty.
class Lines {
public:
    explicit Lines(const Args &args) : args_(args) {}
    Lines(const Args &args, Text &script) : args_(args), script_(&script) {}

    // The arguments of the method call these lines are for.
    const Args &args() const { return args_; }
    py::list list() const { return list_; }

    template <class... P>
    void add(const P &...pieces) {
        if (!script_) return void(list_.append(line(pieces...)));
        *script_ += U"    ";
        (put(*script_, pieces), ...);
        *script_ += '\n';
    }
    void add_empty() {
        if (!script_) return void(list_.append(""_n));
        *script_ += '\n';
    }
    // The lines returned by an overriding method.
    void extend(py::handle lines) {
        if (!script_) return void(call_method(list_, "extend"_n, lines));
        for (py::handle line : lines) {
            if (blank(line)) {
                *script_ += '\n';
                continue;
            }
            if (PyUnicode_CheckExact(line.ptr())) {
                *script_ += U"    ";
                append_str<0>(*script_, line);
            } else {
                put(*script_, Code{"    "_n + py::reinterpret_borrow<py::object>(line)});
            }
            *script_ += '\n';
        }
    }

private:
    const Args &args_;
    Text *script_ = nullptr;
    py::list list_;
};

// out.extend(self.<name>(args...)): the recorder's own `spec` runs `own`
// directly, anything else is called.
template <class Own, class... A>
void generate(Lines &out, py::handle self, py::handle name, const FunctionSpec &spec, Own own, const A &...args) {
    py::object method;
    if (!own_method(self, name, spec, method)) return out.extend(method(args...));
    as_call(out.args(), spec, [&] { own(out, self, args...); });
}

// ---------------------------------------------------------------- locator

// The locator of an element record (an exact dict), or nothing.
// A locator: d(<form>="<text>") for an element record, or the text of an
// overriding method's result as is (no form); `text` is str(value), taken once.
struct Locator {
    std::u32string_view form;
    py::object text;
};

void put(Text &out, const Locator &l) {
    if (l.form.empty()) return append_str<0>(out, l.text);
    out += l.form;
    append_str<1>(out, l.text);
    out += U"\")";
}

std::optional<Locator> element_locator(py::handle element_info) {
    if (!truthy(element_info)) return std::nullopt;
    const std::pair<py::handle, std::u32string_view> forms[] = {
        {"resource_id"_n, U"d(resourceId=\""},
        {"text"_n, U"d(text=\""},
        {"content_desc"_n, U"d(description=\""},
        {"class"_n, U"d(className=\""},
    };
    for (const auto &[key, prefix] : forms) {
        py::object value = get(element_info, key, py::none());
        if (!truthy(value)) continue;
        return Locator{prefix, str_of(value)};
    }
    return std::nullopt;
}

}  // namespace

// self._generate_element_locator(element_info) if element_info else None,
// as text when true.
static std::optional<Locator> locator_for(Lines &out, py::handle self, py::handle element_info) {
    if (!truthy(element_info)) return std::nullopt;
    py::object method;
    if (own_method(self, "_generate_element_locator"_n, kGenerateElementLocator, method)) {
        if (PyDict_CheckExact(element_info.ptr())) {
            std::optional<Locator> locator;
            as_call(out.args(), kGenerateElementLocator, [&] { locator = element_locator(element_info); });
            return locator;
        }
        method = self.attr("_generate_element_locator"_n);  // refuses element_info as the call does
    }
    py::object locator = method(element_info);
    if (!truthy(locator)) return std::nullopt;
    return Locator{{}, str_of(locator)};
}

// ---------------------------------------------------------------- generators

// Click and long click: on the located element, or at the point in params.
static void tap_code(Lines &out, py::handle self, py::handle action, std::u32string_view method, std::u32string_view verb) {
    py::object params = action.attr("params"_n);
    py::object element_info = action.attr("element_info"_n);
    if (auto locator = locator_for(out, self, element_info)) {
        py::object label = get(element_info, "text"_n, get(element_info, "resource_id"_n, "未知元素"_n));
        out.add(*locator, U".", method, U"()");
        out.add(U"print(\"", verb, U"元素: ", Lit{label}, U"\")");
        return;
    }
    const Number x = num(get(params, "x"_n, py::int_(0))), y = num(get(params, "y"_n, py::int_(0)));
    out.add(U"d.", method, U"(", x, U", ", y, U")");
    out.add(U"print(\"", verb, U"坐标: (", LitText{x}, U", ", LitText{y}, U")\")");
}

static void click_code(Lines &out, py::handle self, py::handle action) {
    tap_code(out, self, action, U"click", U"点击");
}

static void long_click_code(Lines &out, py::handle self, py::handle action) {
    tap_code(out, self, action, U"long_click", U"长按");
}

static void input_code(Lines &out, py::handle self, py::handle action) {
    py::object params = action.attr("params"_n);
    py::object text = get(params, "text"_n, ""_n);
    py::object element_info = action.attr("element_info"_n);
    if (auto locator = locator_for(out, self, element_info)) {
        out.add(*locator, U".click()  # 点击输入框获得焦点");
        out.add(*locator, U".set_text(\"", Lit{text}, U"\")");
        out.add(U"print(\"输入文本: ", Lit{text}, U"\")");
        return;
    }
    out.add(U"d.send_keys(\"", Lit{text}, U"\")");
    out.add(U"print(\"发送文本: ", Lit{text}, U"\")");
}

static void key_code(Lines &out, py::handle, py::handle action) {
    py::object key = get(action.attr("params"_n), "key"_n, ""_n);
    out.add(U"d.press(\"", Lit{key}, U"\")");
    out.add(U"print(\"按键: ", Lit{key}, U"\")");
}

static void swipe_code(Lines &out, py::handle, py::handle action) {
    py::object params = action.attr("params"_n);
    py::int_ zero(0);
    const Number fx = num(get(params, "fx"_n, zero)), fy = num(get(params, "fy"_n, zero)),
               tx = num(get(params, "tx"_n, zero)), ty = num(get(params, "ty"_n, zero)),
               duration = num(get(params, "duration"_n, py::float_(0.5)));
    out.add(U"d.swipe(", fx, U", ", fy, U", ", tx, U", ", ty, U", ", duration, U")");
    out.add(U"print(\"滑动: (", LitText{fx}, U", ", LitText{fy}, U") -> (", LitText{tx}, U", ", LitText{ty}, U"), 耗时",
            LitText{duration}, U"秒\")");
}

// One step: its comment, the lines of the generator for its type, an empty line.
static void action_code(Lines &out, py::handle self, py::handle action, std::u32string_view step_num) {
    using Generator = void (*)(Lines &, py::handle, py::handle);
    struct Kind {
        py::handle type, method;
        const FunctionSpec &spec;
        Generator own;
    };
    const Kind kinds[] = {
        {"click"_n, "_generate_click_code"_n, kGenerateClickCode, click_code},
        {"long_click"_n, "_generate_long_click_code"_n, kGenerateLongClickCode, long_click_code},
        {"input"_n, "_generate_input_code"_n, kGenerateInputCode, input_code},
        {"key"_n, "_generate_key_code"_n, kGenerateKeyCode, key_code},
        {"swipe"_n, "_generate_swipe_code"_n, kGenerateSwipeCode, swipe_code},
    };
    py::object action_type = action.attr("action_type"_n);
    out.add(U"# 步骤 ", step_num, U": ", Com{action_type});
    const Kind *kind = nullptr;
    for (const Kind &k : kinds) {
        if (equals(action_type, k.type)) {
            kind = &k;
            break;
        }
    }
    if (kind)
        generate(out, self, kind->method, kind->spec, kind->own, action);
    else
        out.add(U"# 未支持的操作类型: ", Com{action_type});
    out.add_empty();
}

// ---------------------------------------------------------------- script

static py::object generate_script(const Args &a) {
    py::handle self = a[0], script_type = a[1];
    if (!truthy(self.attr("actions"_n))) return py::reinterpret_borrow<py::object>("# 没有录制的操作"_n);
    if (equals(script_type, "uiautomator2"_n)) return call_method(self, "_generate_uiautomator2_script"_n);
    return line(U"# 不支持的脚本类型: ", Code{script_type});
}

static py::object generate_uiautomator2_script(const Args &a) {
    py::handle self = a[0];

    // Header: a docstring with the session's details.
    py::object start_time = self.attr("start_time"_n);
    py::object time_text = truthy(start_time) ? call_method(a.global("datetime"_n).attr("fromtimestamp"_n)(start_time),
                                                     "strftime"_n, py::str("%Y-%m-%d %H:%M:%S"))
                                              : py::str("Unknown");
    Text s = U"\"\"\"\n自动生成的uiautomator2脚本\n录制时间: ";
    put(s, Lit{time_text});
    const std::size_t count = py::len(self.attr("actions"_n));
    s += U"\n操作数量: ";
    s += widen(std::to_string(count));
    s += U"\n会话ID: ";
    put(s, Lit{self.attr("current_session_id"_n)});
    s += U"\n\"\"\"\n\nimport uiautomator2 as u2\nimport time\n\ndef main():\n    \"\"\"执行录制的操作序列\"\"\"\n";

    // Connection.
    py::object device_id = get(self.attr("device_info"_n), "device_id"_n, ""_n);
    if (truthy(device_id)) {
        const int wifi = PySequence_Contains(device_id.ptr(), ":"_n.ptr());
        if (wifi < 0) throw py::error_already_set();
        s += wifi ? U"    # 连接WiFi设备: " : U"    # 连接USB设备: ";
        put(s, Com{device_id});
        s += U"\n    d = u2.connect(\"";
        put(s, Lit{device_id});
        s += U"\")\n";
    } else {
        s += U"    # 连接默认设备\n    d = u2.connect()\n";
    }
    s += U"\n    print(\"开始执行录制的操作...\")\n\n";
    s.reserve(s.size() + 160 * std::min<std::size_t>(count, 100000));  // a typical step's size

    // The steps, each after the recorded pause before it.
    Lines steps(a, s);
    py::object last_timestamp = py::int_(0);
    Py_ssize_t i = 0;
    for (py::handle action : self.attr("actions"_n)) {
        py::object delay = py::object(action.attr("timestamp"_n)) - last_timestamp;
        if (greater(delay, 0.1)) {
            const Number d = two_decimals(delay);
            steps.add(U"time.sleep(", d, U")  # 等待 ", d, U" 秒");
        }
        ++i;
        py::object method;
        if (own_method(self, "_generate_action_code"_n, kGenerateActionCode, method)) {
            const Number step_num(std::to_string(i));
            as_call(a, kGenerateActionCode, [&] { action_code(steps, self, action, step_num); });
        } else {
            steps.extend(method(action, i));
        }
        last_timestamp = action.attr("timestamp"_n);
    }

    s += U"\n    print(\"所有操作执行完成!\")\n\n\nif __name__ == \"__main__\":\n    main()";
    return to_str(s);
}

// ---------------------------------------------------------------- bodies

static py::object generate_action_code(const Args &a) {
    Lines out(a);
    Text step_num;
    put(step_num, Code{a[2]});
    action_code(out, a[0], a[1], step_num);
    return out.list();
}

static py::object generate_click_code(const Args &a) {
    Lines out(a);
    click_code(out, a[0], a[1]);
    return out.list();
}

static py::object generate_long_click_code(const Args &a) {
    Lines out(a);
    long_click_code(out, a[0], a[1]);
    return out.list();
}

static py::object generate_input_code(const Args &a) {
    Lines out(a);
    input_code(out, a[0], a[1]);
    return out.list();
}

static py::object generate_key_code(const Args &a) {
    Lines out(a);
    key_code(out, a[0], a[1]);
    return out.list();
}

static py::object generate_swipe_code(const Args &a) {
    Lines out(a);
    swipe_code(out, a[0], a[1]);
    return out.list();
}

static py::object generate_element_locator(const Args &a) {
    std::optional<Locator> locator = element_locator(a[1]);
    return locator ? py::object(line(*locator)) : py::none();
}

// Generators of one action: self, action -> list of lines.
static const std::vector<Param> kActionParams = {{"self"}, {"action", Check::Any, "RecordedAction"}};
static constexpr Result kLines = {Check::List, "List[str]"};

const FunctionSpec kGenerateScript{
    .name = "generate_script",
    .qualname = "ActionRecorder.generate_script",
    .doc = "生成自动化脚本",
    .params = {{"self"}, {"script_type", Check::Str, "str", Default::of("uiautomator2")}},
    .result = {Check::Str, "str"},
    .body = generate_script,
};
const FunctionSpec kGenerateUiautomator2Script{
    .name = "_generate_uiautomator2_script",
    .qualname = "ActionRecorder._generate_uiautomator2_script",
    .doc = "生成uiautomator2脚本",
    .params = {{"self"}},
    .result = {Check::Str, "str"},
    .body = generate_uiautomator2_script,
};
const FunctionSpec kGenerateActionCode{
    .name = "_generate_action_code",
    .qualname = "ActionRecorder._generate_action_code",
    .doc = "为单个操作生成代码",
    .params = {{"self"}, {"action", Check::Any, "RecordedAction"}, {"step_num", Check::Int, "int"}},
    .result = kLines,
    .body = generate_action_code,
};
const FunctionSpec kGenerateClickCode{
    .name = "_generate_click_code",
    .qualname = "ActionRecorder._generate_click_code",
    .doc = "生成点击操作代码",
    .params = kActionParams,
    .result = kLines,
    .body = generate_click_code,
};
const FunctionSpec kGenerateLongClickCode{
    .name = "_generate_long_click_code",
    .qualname = "ActionRecorder._generate_long_click_code",
    .doc = "生成长按操作代码",
    .params = kActionParams,
    .result = kLines,
    .body = generate_long_click_code,
};
const FunctionSpec kGenerateInputCode{
    .name = "_generate_input_code",
    .qualname = "ActionRecorder._generate_input_code",
    .doc = "生成输入操作代码",
    .params = kActionParams,
    .result = kLines,
    .body = generate_input_code,
};
const FunctionSpec kGenerateKeyCode{
    .name = "_generate_key_code",
    .qualname = "ActionRecorder._generate_key_code",
    .doc = "生成按键操作代码",
    .params = kActionParams,
    .result = kLines,
    .body = generate_key_code,
};
const FunctionSpec kGenerateSwipeCode{
    .name = "_generate_swipe_code",
    .qualname = "ActionRecorder._generate_swipe_code",
    .doc = "生成滑动操作代码",
    .params = kActionParams,
    .result = kLines,
    .body = generate_swipe_code,
};
const FunctionSpec kGenerateElementLocator{
    .name = "_generate_element_locator",
    .qualname = "ActionRecorder._generate_element_locator",
    .doc = "生成元素定位器代码",
    .params = {{"self"}, {"element_info", Check::Dict, "Dict[str, Any]"}},
    .result = {Check::Any, "Optional[str]"},
    .body = generate_element_locator,
};

}  // namespace zv::mirvane
