// CodeGenerator.generate_batch_code: one script for several elements.
#include "objects.hpp"
#include "zantho.hpp"

#include <string_view>

namespace zv::zantho {

namespace {

// Lines are joined with "\n"; each entry line starts with its separator.
constexpr Fixed kHeader =
    U"# 批量操作代码\n"
    U"import uiautomator2 as u2\n"
    U"\n"
    U"d = u2.connect()\n"
    U"\n"
    U"# 定义所有目标元素\n"
    U"elements = [";

constexpr Fixed kClosing =
    U"\n]"
    U"\n"
    U"\n# 批量执行操作"
    U"\nfor i, element in enumerate(elements):"
    U"\n    try:"
    U"\n        if element.exists():"
    U"\n            element.click()"
    U"\n            print(f'元素 {i+1} 点击成功')"
    U"\n        else:"
    U"\n            print(f'元素 {i+1} 不存在')"
    U"\n    except Exception as e:"
    U"\n        print(f'元素 {i+1} 操作失败: {e}')";

}  // namespace

static py::object generate_batch_code(const Args &a) {
    py::handle self = a[0];
    py::list elements = py::reinterpret_borrow<py::list>(a[1]);
    if (elements.size() == 0) return py::reinterpret_borrow<py::object>("# 没有选中的元素"_n);

    Text code;
    code << kHeader;
    // The list may change while it is walked, as in a Python for loop.
    for (std::size_t i = 0; i < elements.size(); ++i) {
        py::object element = elements[i];
        py::object method, best_selector;
        if (PyDict_CheckExact(element.ptr()) && own_method(self, "_generate_selectors"_n, kGenerateSelectors, method)) {
            // The module's own method: its steps, without building the records.
            as_call(a, kGenerateSelectors, [&] { best_selector = best_selector_code(element); });
            if (!best_selector) continue;
        } else {
            py::object selectors = method ? method(element) : call_method(self, "_generate_selectors"_n, element);
            if (!truthy(selectors)) continue;
            best_selector = item(item(selectors, py::int_(0)), "code"_n);
        }
        code << U"\n    ";
        code.plain(best_selector) << U",  # 元素 " << (long long)(i + 1);
    }
    code << kClosing;
    return code.str();
}

const FunctionSpec kGenerateBatchCode{
    .name = "generate_batch_code",
    .qualname = "CodeGenerator.generate_batch_code",
    .doc = "生成批量操作代码",
    .params = {{"self"}, {"elements", Check::List, "List[dict]"}},
    .result = {Check::Str, "str"},
    .body = generate_batch_code,
};

}  // namespace zv::zantho
