// CodeGenerator._get_element_summary: the short summary of an element.
#include "objects.hpp"
#include "zantho.hpp"

namespace zv::zantho {

static py::object get_element_summary(const Args &a) {
    py::handle element = a[1];
    // The keys in order; every value is replaced below.
    py::dict summary = copy(once([] {
        return make_template({{"class"_n, py::none()}, {"text"_n, py::none()}, {"resource_id"_n, py::none()},
                              {"content_desc"_n, py::none()}, {"bounds"_n, py::none()}, {"clickable"_n, py::none()},
                              {"editable"_n, py::none()}, {"scrollable"_n, py::none()}});
    }));
    put(summary, "class"_n, get(element, "class"_n, ""_n));
    put(summary, "text"_n, get(element, "text"_n, ""_n));
    put(summary, "resource_id"_n, get(element, "resource_id"_n, ""_n));
    put(summary, "content_desc"_n, get(element, "content_desc"_n, ""_n));
    put(summary, "bounds"_n, get(element, "bounds"_n, py::list()));
    put(summary, "clickable"_n, get(element, "clickable"_n, py::bool_(false)));
    put(summary, "editable"_n, py::bool_(contains(get(element, "class"_n, ""_n), "EditText"_n)));
    put(summary, "scrollable"_n, get(element, "scrollable"_n, py::bool_(false)));
    return summary;
}

const FunctionSpec kGetElementSummary{
    .name = "_get_element_summary",
    .qualname = "CodeGenerator._get_element_summary",
    .doc = "获取元素摘要信息",
    .params = {{"self"}, {"element", Check::Dict, "dict"}},
    .result = {Check::Dict, "dict"},
    .body = get_element_summary,
};

}  // namespace zv::zantho
