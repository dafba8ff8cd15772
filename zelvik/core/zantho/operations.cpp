// CodeGenerator._generate_operations: the operations that fit an element.
#include "objects.hpp"
#include "zantho.hpp"

#include <string_view>

namespace zv::zantho {

namespace {

// The operation records, fixed apart from the applicable flag of "click".
struct Operations {
    static py::handle record(py::handle type, py::handle code, py::handle description) {
        return make_template(
            {{"type"_n, type}, {"code"_n, code}, {"description"_n, description}, {"applicable"_n, py::bool_(true)}});
    }
    py::handle click = record("click"_n, "element.click()"_n, "点击元素"_n);
    py::handle long_click = record("long_click"_n, "element.long_click()"_n, "长按元素"_n);
    py::handle input_text = record("input_text"_n, "element.set_text(\"输入内容\")"_n, "输入文本"_n);
    py::handle clear_text = record("clear_text"_n, "element.clear_text()"_n, "清空文本"_n);
    py::handle scroll_up = record("scroll_up"_n, "element.scroll.up()"_n, "向上滚动"_n);
    py::handle scroll_down = record("scroll_down"_n, "element.scroll.down()"_n, "向下滚动"_n);
    py::handle wait_exists = record("wait_exists"_n, "element.wait(timeout=10)"_n, "等待元素出现"_n);
    py::handle wait_gone = record("wait_gone"_n, "element.wait_gone(timeout=10)"_n, "等待元素消失"_n);
    py::handle assert_exists = record("assert_exists"_n, "assert element.exists()"_n, "断言元素存在"_n);
    py::handle get_info = record("get_info"_n, "info = element.info"_n, "获取元素信息"_n);
};

// class_name.endswith("EditText")
bool ends_with_edit_text(py::handle class_name) {
    if (!PyUnicode_CheckExact(class_name.ptr())) return truthy(class_name.attr("endswith"_n)("EditText"_n));
    const Py_ssize_t r = PyUnicode_Tailmatch(class_name.ptr(), "EditText"_n.ptr(), 0, PY_SSIZE_T_MAX, 1);
    if (r < 0) throw py::error_already_set();
    return r;
}

// "edit" in class_name.lower(); ASCII text is lowered here.
bool has_edit(py::handle class_name) {
    if (auto v = ascii(class_name)) {
        constexpr std::string_view edit = "edit";
        for (std::size_t i = 0; i + edit.size() <= v->size(); ++i) {
            std::size_t k = 0;
            while (k < edit.size() && ((*v)[i + k] | 0x20) == edit[k]) ++k;
            if (k == edit.size()) return true;
        }
        return false;
    }
    return contains(class_name.attr("lower"_n)(), "edit"_n);
}

}  // namespace

static py::object generate_operations(const Args &a) {
    py::handle element = a[1];
    const Operations &op = once([] { return Operations(); });
    Kept<10> operations;
    py::dict click = copy(op.click);
    put(click, "applicable"_n, get(element, "clickable"_n, py::bool_(false)));
    operations.append(click);
    if (truthy(get(element, "long_clickable"_n, py::bool_(false)))) operations.append(copy(op.long_click));
    py::object class_name = get(element, "class"_n, ""_n);
    if (ends_with_edit_text(class_name) || has_edit(class_name)) {
        operations.append(copy(op.input_text));
        operations.append(copy(op.clear_text));
    }
    if (truthy(get(element, "scrollable"_n, py::bool_(false)))) {
        operations.append(copy(op.scroll_up));
        operations.append(copy(op.scroll_down));
    }
    operations.append(copy(op.wait_exists));
    operations.append(copy(op.wait_gone));
    operations.append(copy(op.assert_exists));
    operations.append(copy(op.get_info));
    return operations.list();
}

const FunctionSpec kGenerateOperations{
    .name = "_generate_operations",
    .qualname = "CodeGenerator._generate_operations",
    .doc = "生成元素操作代码",
    .params = {{"self"}, {"element", Check::Dict, "dict"}, {"options", Check::Dict, "dict"}},
    .result = {Check::List, "List[dict]"},
    .body = generate_operations,
};

}  // namespace zv::zantho
