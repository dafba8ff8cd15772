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
#include <cmath>
#include <limits>
#include <string_view>

namespace zv::mirvane {

using text::Text;

namespace {

// Pieces of one generated line; fixed text is given as U"..." literals.
struct Lit {  // str(value) inside a "..." literal
    py::handle value;
};
struct Com {  // str(value) inside a # comment
    py::handle value;
};
struct Step {  // a step number: the count, or the int a caller passed
    long long count;
    py::handle value;
};
struct LitNum {  // `text`, the number() text of `value`, inside a "..." literal
    py::handle value;
    const Text &text;
};

template <class P>  // fixed text, or another Text
void put(Text &t, const P &p) { t << p; }
void put(Text &t, Lit p) { t.literal(p.value); }
void put(Text &t, Com p) { t.comment(p.value); }
void put(Text &t, Step p) {
    if (p.value)
        t.plain(p.value);
    else
        t << p.count;
}
void put(Text &t, const LitNum &p) {
    PyObject *v = p.value.ptr();
    if (PyLong_CheckExact(v) || PyFloat_CheckExact(v))  // digits, sign, point, e, inf or nan
        t << p.text;
    else
        t.literal(p.text.str());
}

template <class... P>
py::str line(const P &...pieces) {
    Text t;
    (put(t, pieces), ...);
    return t.str();
}

// format(x, ".2f") for a finite x below 1e15 in magnitude, where the
// platform's long double has a 64-bit mantissa: x * 100 is exact there, and
// its nearest integer (half to even, as Python rounds the exact value) gives
// the digits. False, with nothing appended, otherwise.
bool fixed_two(Text &t, double x) {
    if constexpr (std::numeric_limits<long double>::digits < 64) return false;
    if (!(std::fabs(x) < 1e15)) return false;
    const long double hundredths = std::fabs((long double)x * 100), whole = std::floor(hundredths);
    const long double rest = hundredths - whole;
    auto n = (unsigned long long)whole;
    if (rest > 0.5L || (rest == 0.5L && (n & 1))) ++n;
    t.fixed_point(std::signbit(x), n, 2);
    return true;
}

// format(delay, ".2f"), with an exact float written directly.
void two_decimals(Text &t, py::handle delay) {
    if (PyFloat_CheckExact(delay.ptr()) && fixed_two(t, PyFloat_AS_DOUBLE(delay.ptr()))) return;
    PyObject *text = PyObject_Format(delay.ptr(), ".2f"_n.ptr());
    if (!text) throw py::error_already_set();
    t.plain(py::reinterpret_steal<py::object>(text));
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
        *script_ << U"    ";
        (put(*script_, pieces), ...);
        *script_ << U"\n";
    }
    void add_empty() {
        if (!script_) return void(list_.append(""_n));
        *script_ << U"\n";
    }
    // The lines returned by an overriding method.
    void extend(py::handle lines) {
        if (!script_) return void(call_method(list_, "extend"_n, lines));
        for (py::handle line : lines) {
            if (blank(line)) {
                *script_ << U"\n";
                continue;
            }
            if (PyUnicode_CheckExact(line.ptr()))
                (*script_ << U"    ").plain(line);
            else
                script_->plain("    "_n + py::reinterpret_borrow<py::object>(line));
            *script_ << U"\n";
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

// Appends the locator of an element record (an exact dict); false when it
// has none.
bool element_locator(Text &out, py::handle element_info) {
    if (!truthy(element_info)) return false;
    const std::pair<py::handle, std::u32string_view> forms[] = {
        {"resource_id"_n, U"d(resourceId=\""},
        {"text"_n, U"d(text=\""},
        {"content_desc"_n, U"d(description=\""},
        {"class"_n, U"d(className=\""},
    };
    for (const auto &[key, prefix] : forms) {
        py::object value = get(element_info, key, py::none());
        if (!truthy(value)) continue;
        (out << prefix).literal(value) << U"\")";
        return true;
    }
    return false;
}

}  // namespace

// self._generate_element_locator(element_info) if element_info else None,
// appended to `locator` when true; false otherwise.
static bool locator_for(const Args &a, py::handle self, py::handle element_info, Text &locator) {
    if (!truthy(element_info)) return false;
    py::object method;
    if (own_method(self, "_generate_element_locator"_n, kGenerateElementLocator, method)) {
        if (PyDict_CheckExact(element_info.ptr())) {
            bool found = false;
            as_call(a, kGenerateElementLocator, [&] { found = element_locator(locator, element_info); });
            return found;
        }
        method = self.attr("_generate_element_locator"_n);  // refuses element_info as the call does
    }
    py::object result = method(element_info);
    if (!truthy(result)) return false;
    locator.plain(result);
    return true;
}

// ---------------------------------------------------------------- generators

// Click and long click: on the located element, or at the point in params.
static void tap_code(Lines &out, py::handle self, py::handle action, std::u32string_view method,
                     std::u32string_view verb) {
    py::object params = action.attr("params"_n);
    py::object element_info = action.attr("element_info"_n);
    Text locator;
    if (locator_for(out.args(), self, element_info, locator)) {
        py::object label = get(element_info, "text"_n, get(element_info, "resource_id"_n, "未知元素"_n));
        out.add(locator, U".", method, U"()");
        out.add(U"print(\"", verb, U"元素: ", Lit{label}, U"\")");
        return;
    }
    py::int_ zero(0);
    py::object x = get(params, "x"_n, zero);
    Text x_text, y_text;
    x_text.number(x);
    py::object y = get(params, "y"_n, zero);
    y_text.number(y);
    out.add(U"d.", method, U"(", x_text, U", ", y_text, U")");
    out.add(U"print(\"", verb, U"坐标: (", LitNum{x, x_text}, U", ", LitNum{y, y_text}, U")\")");
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
    Text locator;
    if (locator_for(out.args(), self, element_info, locator)) {
        out.add(locator, U".click()  # 点击输入框获得焦点");
        out.add(locator, U".set_text(\"", Lit{text}, U"\")");
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
    const py::handle keys[] = {"fx"_n, "fy"_n, "tx"_n, "ty"_n, "duration"_n};
    py::object values[5];
    Text texts[5];
    for (int k = 0; k < 5; ++k) {
        values[k] = get(params, keys[k], k < 4 ? py::object(zero) : py::float_(0.5));
        texts[k].number(values[k]);
    }
    const auto &[fx, fy, tx, ty, duration] = texts;
    out.add(U"d.swipe(", fx, U", ", fy, U", ", tx, U", ", ty, U", ", duration, U")");
    out.add(U"print(\"滑动: (", LitNum{values[0], fx}, U", ", LitNum{values[1], fy}, U") -> (", LitNum{values[2], tx},
            U", ", LitNum{values[3], ty}, U"), 耗时", LitNum{values[4], duration}, U"秒\")");
}

// One step: its comment, the lines of the generator for its type, an empty line.
static void action_code(Lines &out, py::handle self, py::handle action, Step step_num) {
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
    return line(U"# 不支持的脚本类型: ", Com{script_type});
}

static py::object generate_uiautomator2_script(const Args &a) {
    py::handle self = a[0];

    // Header: a docstring with the session's details.
    py::object start_time = self.attr("start_time"_n);
    py::object time_text = truthy(start_time) ? call_method(a.global("datetime"_n).attr("fromtimestamp"_n)(start_time),
                                                     "strftime"_n, py::str("%Y-%m-%d %H:%M:%S"))
                                              : py::str("Unknown");
    Text s;
    s << U"\"\"\"\n自动生成的uiautomator2脚本\n录制时间: ";
    s.literal(time_text);
    const std::size_t count = py::len(self.attr("actions"_n));
    s << U"\n操作数量: " << (long long)count << U"\n会话ID: ";
    s.literal(self.attr("current_session_id"_n));
    s << U"\n\"\"\"\n\nimport uiautomator2 as u2\nimport time\n\ndef main():\n    \"\"\"执行录制的操作序列\"\"\"\n";

    // Connection.
    py::object device_id = get(self.attr("device_info"_n), "device_id"_n, ""_n);
    if (truthy(device_id)) {
        if (contains(device_id, ":"_n))
            s << U"    # 连接WiFi设备: ";
        else
            s << U"    # 连接USB设备: ";
        s.comment(device_id);
        s << U"\n    d = u2.connect(\"";
        s.literal(device_id);
        s << U"\")\n";
    } else {
        s << U"    # 连接默认设备\n    d = u2.connect()\n";
    }
    s << U"\n    print(\"开始执行录制的操作...\")\n\n";
    s.reserve(160 * std::min<std::size_t>(count, 100000));  // a typical step's size

    // The steps, each after the recorded pause before it.
    Lines steps(a, s);
    py::object last_timestamp = py::int_(0);
    long long i = 0;
    for (py::handle action : self.attr("actions"_n)) {
        py::object delay = py::object(action.attr("timestamp"_n)) - last_timestamp;
        if (greater(delay, 0.1)) {
            Text d;
            two_decimals(d, delay);
            steps.add(U"time.sleep(", d, U")  # 等待 ", d, U" 秒");
        }
        ++i;
        py::object method;
        if (own_method(self, "_generate_action_code"_n, kGenerateActionCode, method)) {
            as_call(a, kGenerateActionCode, [&] { action_code(steps, self, action, Step{i, {}}); });
        } else {
            steps.extend(method(action, i));
        }
        last_timestamp = action.attr("timestamp"_n);
    }

    s << U"\n    print(\"所有操作执行完成!\")\n\n\nif __name__ == \"__main__\":\n    main()";
    return s.str();
}

// ---------------------------------------------------------------- bodies

static py::object generate_action_code(const Args &a) {
    Lines out(a);
    action_code(out, a[0], a[1], Step{0, a[2]});
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
    Text locator;
    return element_locator(locator, a[1]) ? py::object(locator.str()) : py::none();
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
