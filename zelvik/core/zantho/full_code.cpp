// CodeGenerator._build_full_code: the complete example script for one element.
#include "objects.hpp"
#include "zantho.hpp"

#include <string_view>

namespace zv::zantho {

namespace {

// Lines of the script are joined with "\n"; each piece below starts with the
// separator of the line it adds.
constexpr Fixed kHeader =
    U"# uiautomator2 自动化代码\n"
    U"# 此代码由 Android Zelvik 自动生成\n"
    U"\n"
    U"import uiautomator2 as u2\n"
    U"\n"
    U"# 连接设备\n"
    U"d = u2.connect()  # 默认连接第一个设备\n"
    U"# d = u2.connect('设备序列号')  # 连接指定设备\n"
    U"\n"
    U"# 等待应用启动完成\n"
    U"d.app_start(\"应用包名\")\n"
    U"\n"
    U"# 元素定位（按推荐程度排序）:";

// The heading of block i + 1 up to its description (at most three blocks).
constexpr Fixed kWay[] = {U"\n\n# 方式 1: ", U"\n\n# 方式 2: ", U"\n\n# 方式 3: "};
constexpr Fixed kClick = U"\n    element.click()  # 点击操作";
constexpr Fixed kSetText = U"\n    element.set_text(\"输入内容\")  # 文本输入";
constexpr Fixed kBlockEnd =
    U"\n    print(f'操作成功: {element.info}')"
    U"\nelse:"
    U"\n    print('元素不存在')";

// The closing example, around the best locator.
constexpr Fixed kTryStart =
    U"\n"
    U"\n# 带错误处理的完整示例:"
    U"\ntry:"
    U"\n    element = ";
constexpr Fixed kTryEnd =
    U"\n    "
    U"\n    # 等待元素出现"
    U"\n    if element.wait(timeout=10):"
    U"\n        element.click()"
    U"\n        print('操作执行成功')"
    U"\n    else:"
    U"\n        print('元素等待超时')"
    U"\n"
    U"\nexcept Exception as e:"
    U"\n    print(f'操作失败: {e}')"
    U"\n"
    U"\n# 获取元素详细信息:"
    U"\nelement = ";
constexpr Fixed kInfo =
    U"\nif element.exists():"
    U"\n    info = element.info"
    U"\n    print(f'元素信息: {info}')";

py::handle stability_icons() {
    return once([] {
        return make_template({{"very_high"_n, "🟢"_n},
                              {"high"_n, "🟢"_n},
                              {"medium"_n, "🟡"_n},
                              {"low"_n, "🟠"_n},
                              {"very_low"_n, "🔴"_n}});
    });
}

}  // namespace

static py::object build_full_code(const Args &a) {
    py::handle selectors = a[1], element = a[3];
    if (py::len(selectors) == 0) return py::reinterpret_borrow<py::object>("# 无法生成定位代码：元素缺少必要的定位属性"_n);

    Text code;
    code.reserve(2048);  // a whole script: about 1,200 characters with three blocks
    code << kHeader;
    Reads facts(element);
    // selectors[:3] (an exact list)
    py::list first = py::reinterpret_steal<py::list>(PyList_GetSlice(selectors.ptr(), 0, 3));
    if (!first) throw py::error_already_set();
    for (std::size_t i = 0; i < first.size(); ++i) {
        py::object selector = first[i];
        // Reading a selector other than an exact dict, or converting values
        // read from it, may run code that changes the element.
        if (!PyDict_CheckExact(selector.ptr())) facts.stop();
        code << kWay[i];
        py::object description = item(selector, "description"_n);
        facts.check(description);
        code.comment(description) << U" ";
        py::object stability = item(selector, "stability"_n);
        facts.check(stability);
        code.plain(get(stability_icons(), stability, "⚪"_n));
        code << U"\nelement = ";
        py::object locator = item(selector, "code"_n);
        facts.check(locator);
        code.plain(locator);
        code << U"\nif element.exists():";
        if (truthy(facts.get("clickable"_n, py::bool_(false)))) code << kClick;
        if (contains(facts.get("class"_n, ""_n), "EditText"_n)) code << kSetText;
        code << kBlockEnd;
    }

    // selectors[0]["code"]; the loop may have run code that emptied the list.
    py::object first_selector = PyList_GET_SIZE(selectors.ptr())
                                    ? py::reinterpret_borrow<py::object>(PyList_GET_ITEM(selectors.ptr(), 0))
                                    : item(selectors, py::int_(0));
    py::object best = item(first_selector, "code"_n);
    code << kTryStart;
    code.plain(best) << kTryEnd;
    code.plain(best) << kInfo;
    return code.str();
}

const FunctionSpec kBuildFullCode{
    .name = "_build_full_code",
    .qualname = "CodeGenerator._build_full_code",
    .doc = "构建完整的代码示例",
    .params = {{"self"},
               {"selectors", Check::List, "List[dict]"},
               {"operations", Check::List, "List[dict]"},
               {"element", Check::Dict, "dict"}},
    .result = {Check::Str, "str"},
    .body = build_full_code,
};

}  // namespace zv::zantho
