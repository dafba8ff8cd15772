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

// Pieces of one generated line.
struct Lit {  // str(value) inside a "..." literal
    py::handle value;
};
struct LitText {  // UTF-8 text inside a "..." literal
    std::string_view utf8;
};
struct Com {  // str(value) inside a # comment
    py::handle value;
};
struct Code {  // str(value) as is
    py::handle value;
};

void put(std::string &out, std::string_view s) { out += s; }
template <std::size_t N>
void put(std::string &out, const char (&s)[N]) { out.append(s, N - 1); }
void put(std::string &out, Lit p) { text::literal(out, p.value); }
void put(std::string &out, LitText p) { text::escape_literal(out, p.utf8); }
void put(std::string &out, Com p) { text::comment(out, p.value); }
void put(std::string &out, Code p) { text::plain(out, p.value); }

template <class... P>
py::str line(const P &...pieces) {
    std::string s;
    (put(s, pieces), ...);
    return text::to_str(s);
}

// The text of a value in a numeric position; an exact int that fits and an
// exact float are written directly (as format(value, "") writes them).
std::string num(py::handle value) {
    PyObject *v = value.ptr();
    if (PyLong_CheckExact(v)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (!overflow) return std::to_string(n);
    }
    std::string s;
    if (PyFloat_CheckExact(v)) {
        char *repr = PyOS_double_to_string(PyFloat_AS_DOUBLE(v), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (!repr) throw py::error_already_set();
        s = repr;
        PyMem_Free(repr);
        return s;
    }
    text::number(s, value);
    return s;
}

// format(delay, ".2f"), with an exact float written directly.
std::string two_decimals(py::handle delay) {
    std::string s;
    if (PyFloat_CheckExact(delay.ptr())) {
        char buf[400];  // the longest finite double in fixed notation with 2 decimals
        const auto r = std::to_chars(buf, buf + sizeof buf, PyFloat_AS_DOUBLE(delay.ptr()), std::chars_format::fixed, 2);
        return s.assign(buf, r.ptr);
    }
    PyObject *text = PyObject_Format(delay.ptr(), ".2f"_n.ptr());
    if (!text) throw py::error_already_set();
    text::plain(s, py::reinterpret_steal<py::object>(text));
    return s;
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
    Lines(const Args &args, std::string &script) : args_(args), script_(&script) {}

    // The arguments of the method call these lines are for.
    const Args &args() const { return args_; }
    py::list list() const { return list_; }

    template <class... P>
    void add(const P &...pieces) {
        if (!script_) return void(list_.append(line(pieces...)));
        *script_ += "    ";
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
                *script_ += "    ";
                text::plain(*script_, line);
            } else {
                text::plain(*script_, "    "_n + py::reinterpret_borrow<py::object>(line));
            }
            *script_ += '\n';
        }
    }

private:
    const Args &args_;
    std::string *script_ = nullptr;
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
std::optional<std::string> element_locator(py::handle element_info) {
    if (!truthy(element_info)) return std::nullopt;
    const std::pair<py::handle, std::string_view> forms[] = {
        {"resource_id"_n, "d(resourceId=\""},
        {"text"_n, "d(text=\""},
        {"content_desc"_n, "d(description=\""},
        {"class"_n, "d(className=\""},
    };
    for (const auto &[key, prefix] : forms) {
        py::object value = get(element_info, key, py::none());
        if (!truthy(value)) continue;
        std::string s(prefix);
        put(s, Lit{value});
        s += "\")";
        return s;
    }
    return std::nullopt;
}

}  // namespace

// self._generate_element_locator(element_info) if element_info else None,
// as text when true.
static std::optional<std::string> locator_for(const Args &a, py::handle self, py::handle element_info) {
    if (!truthy(element_info)) return std::nullopt;
    py::object method;
    if (own_method(self, "_generate_element_locator"_n, kGenerateElementLocator, method)) {
        if (PyDict_CheckExact(element_info.ptr())) {
            std::optional<std::string> locator;
            as_call(a, kGenerateElementLocator, [&] { locator = element_locator(element_info); });
            return locator;
        }
        method = self.attr("_generate_element_locator"_n);  // refuses element_info as the call does
    }
    py::object locator = method(element_info);
    if (!truthy(locator)) return std::nullopt;
    std::string s;
    put(s, Code{locator});
    return s;
}

// ---------------------------------------------------------------- generators

// Click and long click: on the located element, or at the point in params.
static void tap_code(Lines &out, py::handle self, py::handle action, std::string_view method, std::string_view verb) {
    py::object params = action.attr("params"_n);
    py::object element_info = action.attr("element_info"_n);
    if (auto locator = locator_for(out.args(), self, element_info)) {
        py::object label = get(element_info, "text"_n, get(element_info, "resource_id"_n, "未知元素"_n));
        out.add(*locator, ".", method, "()");
        out.add("print(\"", verb, "元素: ", Lit{label}, "\")");
        return;
    }
    const std::string x = num(get(params, "x"_n, py::int_(0))), y = num(get(params, "y"_n, py::int_(0)));
    out.add("d.", method, "(", x, ", ", y, ")");
    out.add("print(\"", verb, "坐标: (", LitText{x}, ", ", LitText{y}, ")\")");
}

static void click_code(Lines &out, py::handle self, py::handle action) {
    tap_code(out, self, action, "click", "点击");
}

static void long_click_code(Lines &out, py::handle self, py::handle action) {
    tap_code(out, self, action, "long_click", "长按");
}

static void input_code(Lines &out, py::handle self, py::handle action) {
    py::object params = action.attr("params"_n);
    py::object text = get(params, "text"_n, ""_n);
    py::object element_info = action.attr("element_info"_n);
    if (auto locator = locator_for(out.args(), self, element_info)) {
        out.add(*locator, ".click()  # 点击输入框获得焦点");
        out.add(*locator, ".set_text(\"", Lit{text}, "\")");
        out.add("print(\"输入文本: ", Lit{text}, "\")");
        return;
    }
    out.add("d.send_keys(\"", Lit{text}, "\")");
    out.add("print(\"发送文本: ", Lit{text}, "\")");
}

static void key_code(Lines &out, py::handle, py::handle action) {
    py::object key = get(action.attr("params"_n), "key"_n, ""_n);
    out.add("d.press(\"", Lit{key}, "\")");
    out.add("print(\"按键: ", Lit{key}, "\")");
}

static void swipe_code(Lines &out, py::handle, py::handle action) {
    py::object params = action.attr("params"_n);
    py::int_ zero(0);
    const std::string fx = num(get(params, "fx"_n, zero)), fy = num(get(params, "fy"_n, zero)),
                      tx = num(get(params, "tx"_n, zero)), ty = num(get(params, "ty"_n, zero)),
                      duration = num(get(params, "duration"_n, py::float_(0.5)));
    out.add("d.swipe(", fx, ", ", fy, ", ", tx, ", ", ty, ", ", duration, ")");
    out.add("print(\"滑动: (", LitText{fx}, ", ", LitText{fy}, ") -> (", LitText{tx}, ", ", LitText{ty}, "), 耗时",
            LitText{duration}, "秒\")");
}

// One step: its comment, the lines of the generator for its type, an empty line.
static void action_code(Lines &out, py::handle self, py::handle action, std::string_view step_num) {
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
    out.add("# 步骤 ", step_num, ": ", Com{action_type});
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
        out.add("# 未支持的操作类型: ", Com{action_type});
    out.add_empty();
}

// ---------------------------------------------------------------- script

static py::object generate_script(const Args &a) {
    py::handle self = a[0], script_type = a[1];
    if (!truthy(self.attr("actions"_n))) return py::reinterpret_borrow<py::object>("# 没有录制的操作"_n);
    if (equals(script_type, "uiautomator2"_n)) return call_method(self, "_generate_uiautomator2_script"_n);
    return line("# 不支持的脚本类型: ", Code{script_type});
}

static py::object generate_uiautomator2_script(const Args &a) {
    py::handle self = a[0];

    // Header: a docstring with the session's details.
    py::object start_time = self.attr("start_time"_n);
    py::object time_text = truthy(start_time) ? call_method(a.global("datetime"_n).attr("fromtimestamp"_n)(start_time),
                                                     "strftime"_n, py::str("%Y-%m-%d %H:%M:%S"))
                                              : py::str("Unknown");
    std::string s = "\"\"\"\n自动生成的uiautomator2脚本\n录制时间: ";
    put(s, Lit{time_text});
    const std::size_t count = py::len(self.attr("actions"_n));
    s += "\n操作数量: ";
    s += std::to_string(count);
    s += "\n会话ID: ";
    put(s, Lit{self.attr("current_session_id"_n)});
    s += "\n\"\"\"\n\nimport uiautomator2 as u2\nimport time\n\ndef main():\n    \"\"\"执行录制的操作序列\"\"\"\n";

    // Connection.
    py::object device_id = get(self.attr("device_info"_n), "device_id"_n, ""_n);
    if (truthy(device_id)) {
        const int wifi = PySequence_Contains(device_id.ptr(), ":"_n.ptr());
        if (wifi < 0) throw py::error_already_set();
        s += wifi ? "    # 连接WiFi设备: " : "    # 连接USB设备: ";
        put(s, Com{device_id});
        s += "\n    d = u2.connect(\"";
        put(s, Lit{device_id});
        s += "\")\n";
    } else {
        s += "    # 连接默认设备\n    d = u2.connect()\n";
    }
    s += "\n    print(\"开始执行录制的操作...\")\n\n";
    s.reserve(s.size() + 160 * std::min<std::size_t>(count, 100000));  // a typical step's size

    // The steps, each after the recorded pause before it.
    Lines steps(a, s);
    py::object last_timestamp = py::int_(0);
    Py_ssize_t i = 0;
    for (py::handle action : self.attr("actions"_n)) {
        py::object delay = py::object(action.attr("timestamp"_n)) - last_timestamp;
        if (greater(delay, 0.1)) {
            const std::string d = two_decimals(delay);
            steps.add("time.sleep(", d, ")  # 等待 ", d, " 秒");
        }
        ++i;
        py::object method;
        if (own_method(self, "_generate_action_code"_n, kGenerateActionCode, method)) {
            const std::string step_num = std::to_string(i);
            as_call(a, kGenerateActionCode, [&] { action_code(steps, self, action, step_num); });
        } else {
            steps.extend(method(action, i));
        }
        last_timestamp = action.attr("timestamp"_n);
    }

    s += "\n    print(\"所有操作执行完成!\")\n\n\nif __name__ == \"__main__\":\n    main()";
    return text::to_str(s);
}

// ---------------------------------------------------------------- bodies

static py::object generate_action_code(const Args &a) {
    Lines out(a);
    std::string step_num;
    text::plain(step_num, a[2]);
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
    std::optional<std::string> locator = element_locator(a[1]);
    return locator ? py::object(text::to_str(*locator)) : py::none();
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
