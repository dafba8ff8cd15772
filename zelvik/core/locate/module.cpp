// zelvik.core.locate: TreeIndex, and the module functions that build one
// for a single question.
#include "locate.hpp"

namespace zv::locate {

Held index_of(py::handle self) {
    py::object owner = attr(self, "_index"_n);
    Index &index = state<Index>(owner, "_index");
    return {std::move(owner), index};
}

static py::object init(const Args &a) {
    py::setattr(a[0], "_index"_n, make_state(std::make_unique<Index>(a[1])));
    return py::none();
}

static py::object count_matches_method(const Args &a) {
    Held held = index_of(a[0]);
    return py::int_(count_matches(held.index, a[1]));
}

static py::object xpath_for_method(const Args &a) {
    Held held = index_of(a[0]);
    return xpath_for(held.index, a[1], a[2]);
}

static py::object count_matches_function(const Args &a) {
    return call_method(call(a.global("TreeIndex"_n), a[0]), "count_matches"_n, a[1]);
}

static py::object xpath_for_function(const Args &a) {
    return call_method(call(a.global("TreeIndex"_n), a[0]), "xpath_for"_n, a[1], a[2]);
}

const FunctionSpec kInit{
    .name = "__init__",
    .qualname = "TreeIndex.__init__",
    .params = {{"self"}, {"tree", Check::Dict, "dict"}},
    .result = {Check::Any, "None"},
    .body = init,
};

const FunctionSpec kCountMatchesMethod{
    .name = "count_matches",
    .qualname = "TreeIndex.count_matches",
    .doc = "统计选择器在树中匹配的元素数量",
    .params = {{"self"}, {"selector_record", Check::Dict, "dict"}},
    .result = {Check::Any, "int"},
    .body = count_matches_method,
};

const FunctionSpec kXpathForMethod{
    .name = "xpath_for",
    .qualname = "TreeIndex.xpath_for",
    .doc = "生成元素的XPath",
    .params = {{"self"}, {"element", Check::Dict, "dict"}, {"kind", Check::Str, "str", Default::of("relative")}},
    .result = {Check::Str, "str"},
    .body = xpath_for_method,
};

const FunctionSpec kCountMatches{
    .name = "count_matches",
    .qualname = "count_matches",
    .doc = "统计选择器在树中匹配的元素数量",
    .params = {{"tree", Check::Dict, "dict"}, {"selector_record", Check::Dict, "dict"}},
    .result = {Check::Any, "int"},
    .body = count_matches_function,
};

const FunctionSpec kXpathFor{
    .name = "xpath_for",
    .qualname = "xpath_for",
    .doc = "生成元素的XPath",
    .params = {{"tree", Check::Dict, "dict"},
               {"element", Check::Dict, "dict"},
               {"kind", Check::Str, "str", Default::of("relative")}},
    .result = {Check::Str, "str"},
    .body = xpath_for_function,
};

static void build(ModuleBuilder &m) {
    m.add_class({"TreeIndex", "元素树索引：一次读取，多次统计匹配数和生成XPath",
                 {&kInit, &kCountMatchesMethod, &kXpathForMethod}});
    m.add_function(kCountMatches);
    m.add_function(kXpathFor);
}

}  // namespace zv::locate

ZV_MODULE(locate, "\n定位检查模块\n按uiautomator2的匹配规则统计选择器的匹配数，并生成元素的XPath\n", zv::locate::build)
