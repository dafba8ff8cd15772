// CodeGenerator._generate_selectors: the locator strategies an element
// supports, ranked from most to least recommended.
#include "objects.hpp"
#include "zantho.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace zv::zantho {

namespace {

// One strategy kind: the fixed fields of its records.
class Kind {
public:
    Kind(py::handle type, int priority, py::handle stability, py::handle description,
         std::initializer_list<py::handle> pros, std::initializer_list<py::handle> cons)
        : priority(priority),
          template_(make_template({{"type"_n, type},
                                   {"priority"_n, py::int_(priority)},
                                   {"stability"_n, stability},
                                   {"code"_n, py::none()},
                                   {"description"_n, description},
                                   {"pros"_n, py::none()},
                                   {"cons"_n, py::none()}})),
          pros_(pros),
          cons_(cons) {}

    // A new record; `description` replaces the fixed one when given.
    py::dict record(py::handle code, py::handle description = {}) const {
        py::dict r = copy(template_);
        put(r, "code"_n, code);
        if (description) put(r, "description"_n, description);
        put(r, "pros"_n, list_of(pros_.begin(), pros_.size()));
        put(r, "cons"_n, list_of(cons_.begin(), cons_.size()));
        return r;
    }

    const int priority;

private:
    py::handle template_;
    std::vector<py::handle> pros_, cons_;

};

struct Kinds {
    Kind resource_id{"resource_id"_n, 1, "high"_n, "资源ID定位 - 最稳定的定位方式"_n,
                     {"稳定性高"_n, "执行速度快"_n, "不受文本变化影响"_n}, {"需要开发者设置ID"_n}};
    Kind text{"text"_n, 2, "medium"_n, py::none(),
              {"直观易懂"_n, "适合文本固定的场景"_n}, {"文本变化时会失效"_n, "多语言环境不稳定"_n}};
    Kind text_contains{"text_contains"_n, 3, "medium"_n, py::none(),
                       {"对文本变化容错性更强"_n}, {"可能匹配到多个元素"_n}};
    Kind content_desc{"content_desc"_n, 2, "high"_n, "内容描述定位 - 基于无障碍描述"_n,
                      {"稳定性高"_n, "语义化好"_n}, {"不是所有元素都有描述"_n}};
    Kind class_name{"class_name"_n, 4, "low"_n, "类名定位 - 基于UI组件类型"_n,
                    {"适合组件类型固定的场景"_n}, {"通常会匹配多个元素"_n, "需要结合其他条件"_n}};
    Kind combined{"combined"_n, 1, "very_high"_n, "组合定位 - 多条件组合"_n,
                  {"准确性最高"_n, "误匹配概率极低"_n}, {"条件过多时维护复杂"_n}};
    Kind coordinate{"coordinate"_n, 5, "very_low"_n, py::none(),
                    {"总是可用的兜底方案"_n}, {"屏幕分辨率变化时失效"_n, "界面布局变化时失效"_n, "不具备通用性"_n}};
};

const Kinds &kinds() {
    return once([] { return Kinds(); });
}

// The records in the order appended; ranked() is the list sorted on priority
// with a stable sort.
class Records {
public:
    void append(const Kind &kind, py::handle code, py::handle description = {}) {
        priorities_[records_.size()] = kind.priority;
        records_.append(kind.record(code, description));
    }

    std::size_t size() const { return records_.size(); }

    py::list ranked() const {
        py::list out = new_list(size());
        Py_ssize_t n = 0;
        for (int priority = 1; priority <= 5; ++priority)
            for (std::size_t i = 0; i < size(); ++i)
                if (priorities_[i] == priority) PyList_SET_ITEM(out.ptr(), n++, records_[i].inc_ref().ptr());
        return out;
    }

private:
    Kept<7> records_;
    int priorities_[7];
};

// Only the code of the best-ranked record: the first one appended with the
// lowest priority.
class BestCode {
public:
    void append(const Kind &kind, py::handle code, py::handle = {}) {
        if (!size_++ || kind.priority < priority_) {
            code_ = py::reinterpret_borrow<py::object>(code);
            priority_ = kind.priority;
        }
    }

    std::size_t size() const { return size_; }
    py::object code() const { return code_; }

private:
    py::object code_;
    int priority_ = 0;
    std::size_t size_ = 0;
};

using Render = Text &(Text::*)(py::handle);

// prefix + the rendered value + suffix, as one str.
py::str compose(const Fixed &prefix, Render render, py::handle value, const Fixed &suffix) {
    Text t;
    t << prefix;
    (t.*render)(value);
    t << suffix;
    return t.str();
}

// The stripped text when element.get("text") is truthy and
// element["text"].strip() is non-empty.
py::object stripped_text(Reads &element) {
    py::object text = element.get("text"_n);
    if (!truthy(text)) return {};
    text = strip(element.item("text"_n));
    return truthy(text) ? text : py::object();
}

// (bounds[a] + bounds[b]) // 2: for a list of small ints a number kept here,
// otherwise the object the operators give.
struct Center {
    long long value = 0;
    py::object object;

    // Writes it as `render` writes the object (the same text for an int).
    void write(Text &t, Render render) const {
        if (object)
            (t.*render)(object);
        else
            t << value;
    }
};

Center center(py::handle bounds, int a, int b) {
    PyObject *list = bounds.ptr();
    if (PyList_CheckExact(list) && PyList_GET_SIZE(list) > std::max(a, b)) {
        PyObject *x = PyList_GET_ITEM(list, a), *y = PyList_GET_ITEM(list, b);
        int overflow_x = 1, overflow_y = 1;
        const long long vx = PyLong_CheckExact(x) ? PyLong_AsLongLongAndOverflow(x, &overflow_x) : 0;
        const long long vy = PyLong_CheckExact(y) ? PyLong_AsLongLongAndOverflow(y, &overflow_y) : 0;
        if (!overflow_x && !overflow_y) return {(long long)(((__int128)vx + vy) >> 1)};
    }
    py::object x = item(bounds, py::int_(a));
    py::object y = item(bounds, py::int_(b));
    py::object sum = x + y;
    PyObject *half = PyNumber_FloorDivide(sum.ptr(), py::int_(2).ptr());
    if (!half) throw py::error_already_set();
    return {0, py::reinterpret_steal<py::object>(half)};
}

}  // namespace

// The steps of _generate_selectors, the selectors going to `selectors`.
template <class Selectors>
static void generate(py::handle record, Selectors &selectors) {
    const Kinds &kind = kinds();
    Reads element(record);

    if (truthy(element.get("resource_id"_n))) {
        py::str code = compose(U"d(resourceId=\"", &Text::literal, element.item("resource_id"_n), U"\")");
        selectors.append(kind.resource_id, code);
    }

    if (py::object text = stripped_text(element)) {
        py::str code = compose(U"d(text=\"", &Text::literal, text, U"\")");
        selectors.append(kind.text, code, compose(U"文本定位 - 基于显示文本 '", &Text::plain, text, U"'"));
        if (py::len(text) > 10) {
            py::object head = PyUnicode_CheckExact(text.ptr())  // text[:8]
                                  ? py::reinterpret_steal<py::object>(PyUnicode_Substring(text.ptr(), 0, 8))
                                  : text[py::slice(std::nullopt, 8, std::nullopt)];
            if (!head) throw py::error_already_set();
            py::object short_text = head + "..."_n;
            py::str contains_code = compose(U"d(textContains=\"", &Text::literal, head, U"\")");
            selectors.append(kind.text_contains, contains_code,
                             compose(U"文本包含定位 - 包含 '", &Text::plain, short_text, U"'"));
        }
    }

    if (truthy(element.get("content_desc"_n))) {
        py::str code = compose(U"d(description=\"", &Text::literal, element.item("content_desc"_n), U"\")");
        selectors.append(kind.content_desc, code);
    }

    if (truthy(element.get("class"_n))) {
        py::object class_name = element.item("class"_n);
        py::str code = compose(U"d(className=\"", &Text::literal, class_name, U"\")");
        selectors.append(kind.class_name, code);
    }

    if (selectors.size() > 1) {
        Text code;  // "d(" + ", ".join(combo_conditions) + ")"
        code << U"d(";
        int conditions = 0;
        if (truthy(element.get("resource_id"_n))) {
            code << U"resourceId=\"";
            code.literal(element.item("resource_id"_n)) << U"\"";
            ++conditions;
        } else if (py::object text = stripped_text(element)) {
            code << U"text=\"";
            code.literal(text) << U"\"";
            ++conditions;
        }
        if (truthy(element.get("class"_n)) && conditions == 1) {
            code << U", className=\"";
            code.literal(element.item("class"_n)) << U"\"";
            ++conditions;
        }
        if (conditions >= 2) selectors.append(kind.combined, (code << U")").str());
    }

    if (truthy(element.get("bounds"_n))) {
        py::object bounds = element.item("bounds"_n);
        const Center center_x = center(bounds, 0, 2), center_y = center(bounds, 1, 3);
        Text code, description;
        code << U"d.click(";
        center_x.write(code, &Text::number);
        code << U", ";
        center_y.write(code, &Text::number);
        code << U")";
        description << U"坐标点击 - 点击位置 (";
        center_x.write(description, &Text::plain);
        description << U", ";
        center_y.write(description, &Text::plain);
        description << U")";
        py::str code_text = code.str();
        selectors.append(kind.coordinate, code_text, description.str());
    }
}

static py::object generate_selectors(const Args &a) {
    Records selectors;
    generate(a[1], selectors);
    return selectors.ranked();
}

py::object best_selector_code(py::handle element) {
    BestCode selectors;
    generate(element, selectors);
    return selectors.code();
}

const FunctionSpec kGenerateSelectors{
    .name = "_generate_selectors",
    .qualname = "CodeGenerator._generate_selectors",
    .doc = "生成元素选择器代码",
    .params = {{"self"}, {"element", Check::Dict, "dict"}},
    .result = {Check::List, "List[dict]"},
    .body = generate_selectors,
};

}  // namespace zv::zantho
