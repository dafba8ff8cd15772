#include "pellora.hpp"

namespace zv::pellora {

// The screen-geometry record, keys in order.
static py::dict geometry(py::handle width, py::handle height, py::handle ui_width, py::handle ui_height,
                         py::handle orientation, py::handle rotation, py::handle rotation_name,
                         py::handle coordinate_system, py::handle aspect_ratio) {
    py::dict r;
    r["width"_n] = width;
    r["height"_n] = height;
    r["ui_width"_n] = ui_width;
    r["ui_height"_n] = ui_height;
    r["orientation"_n] = orientation;
    r["rotation"_n] = rotation;
    r["rotation_name"_n] = rotation_name;
    r["coordinate_system"_n] = coordinate_system;
    r["aspect_ratio"_n] = aspect_ratio;
    return r;
}

static Task get_device_resolution(const Args &a) {
    py::handle ostrel = a[1];
    try {
        py::object loop = a.global("asyncio"_n).attr("get_event_loop"_n)();
        py::object device_info = co_await read_device_info(a, kResolutionInfoLambda, loop, ostrel);
        py::object display_width = get(device_info, "displayWidth"_n, py::int_(1080));
        py::object display_height = get(device_info, "displayHeight"_n, py::int_(1920));
        py::object display_rotation = get(device_info, "displayRotation"_n, py::int_(0));
        py::str orientation(display_height > display_width ? "portrait" : "landscape");
        py::dict names;
        names[py::int_(0)] = "natural";
        names[py::int_(1)] = "left";
        names[py::int_(2)] = "inverted";
        names[py::int_(3)] = "right";
        py::object rotation_name = get(names, display_rotation, py::str("unknown"));
        py::handle ui_width = display_width, ui_height = display_height;
        const bool rotated = equals(display_rotation, py::int_(1)) || equals(display_rotation, py::int_(3));
        py::str coordinate_system(rotated ? "rotated" : "normal");
        py::object round = a.global("round"_n);
        py::object longer = a.global("max"_n)(display_width, display_height);
        py::object shorter = a.global("min"_n)(display_width, display_height);
        py::object aspect_ratio = round(longer / shorter, 2);
        co_return geometry(display_width, display_height, ui_width, ui_height, orientation, display_rotation,
                           rotation_name, coordinate_system, aspect_ratio);
    } catch (py::error_already_set &e) {
        only_exception(e);
    }
    co_return geometry(py::int_(1080), py::int_(1920), py::int_(1080), py::int_(1920), py::str("portrait"),
                       py::int_(0), py::str("natural"), py::str("normal"), py::float_(1.78));
}

const FunctionSpec kGetDeviceResolution{
    .name = "_get_device_resolution",
    .qualname = "UIAnalyzer._get_device_resolution",
    .doc = "获取设备分辨率和屏幕方向信息",
    .params = {{"self"}, {"ostrel"}},
    .result = {Check::Dict, "dict"},
    .async_body = get_device_resolution,
};

}  // namespace zv::pellora
