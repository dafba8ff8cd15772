// Element records straight from the XML parser: the expat that ElementTree
// uses, driven without building any Element.
#include "pellora.hpp"
#include "quiet_lookup.hpp"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace zv::pellora {

namespace {

// The part of pyexpat's C API (the "pyexpat.expat_CAPI" capsule) that is
// laid out alike from CPython 3.9 to 3.13.
using Parser = struct XML_ParserStruct *;
using StartHandler = void (*)(void *, const char *, const char **);
using EndHandler = void (*)(void *, const char *);
using CommentHandler = void (*)(void *, const char *);
using PiHandler = void (*)(void *, const char *, const char *);
using DoctypeHandler = void (*)(void *, const char *, const char *, const char *, int);
using UnknownEncodingHandler = int (*)(void *, const char *, void *);
using Unused = void (*)();

struct MemorySuite {
    void *(*malloc_fcn)(size_t);
    void *(*realloc_fcn)(void *, size_t);
    void (*free_fcn)(void *);
};

struct ExpatApi {
    char *magic;
    int size;
    int major_version, minor_version, micro_version;
    Unused ErrorString, GetErrorCode, GetErrorColumnNumber, GetErrorLineNumber;
    int (*Parse)(Parser, const char *, int, int);
    Parser (*ParserCreate_MM)(const char *, const MemorySuite *, const char *);
    void (*ParserFree)(Parser);
    Unused SetCharacterDataHandler;
    void (*SetCommentHandler)(Parser, CommentHandler);
    Unused SetDefaultHandlerExpand;
    void (*SetElementHandler)(Parser, StartHandler, EndHandler);
    Unused SetNamespaceDeclHandler;
    void (*SetProcessingInstructionHandler)(Parser, PiHandler);
    void (*SetUnknownEncodingHandler)(Parser, UnknownEncodingHandler, void *);
    void (*SetUserData)(Parser, void *);
    void (*SetStartDoctypeDeclHandler)(Parser, DoctypeHandler);
    int (*SetEncoding)(Parser, const char *);
    UnknownEncodingHandler DefaultUnknownEncodingHandler;
    Unused SetHashSalt;
};

// ElementTree as pellora found it when loaded: the module, the objects that
// ET.fromstring(text) reaches, and the expat API. Set once, at import.
struct ElementTreeParts {
    PyObject *module = nullptr;  // null: the fast path is off
    PyObject *fromstring, *fromstring_code, *fromstring_defaults;
    PyObject *xml_parser, *tree_builder, *parse_error, *element;
    const ExpatApi *expat;
};
ElementTreeParts parts;

// The allocator ElementTree gives expat.
const MemorySuite kMemory = {PyObject_Malloc, PyObject_Realloc, PyObject_Free};

constexpr const char *kWhere = " while calling a Python object";

// dict[key] or null, for an interned str key.
PyObject *lookup(PyObject *dict, py::handle key) {
    PyObject *v = PyDict_GetItemWithError(dict, key.ptr());
    if (!v && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

bool is_own(PyObject *module_dict, py::handle name, PyObject *original) {
    return lookup(module_dict, name) == original;
}

// The fast path builds what _parse_xml_node(ET.fromstring(text)) builds when
//   - the module global ET is the ElementTree module, with its fromstring,
//     XMLParser, TreeBuilder and ParseError the ones it was loaded with;
//   - self._parse_xml_node and self._parse_bounds find this class's own
//     functions (no override, no instance attribute);
//   - the text is an exact str.
// Then fromstring feeds the text, encoded in UTF-8, to a C XMLParser that
// drives this same expat, created the same way, for a C TreeBuilder: the
// attribute texts reaching the records are the ones node.attrib would hold,
// in the same elements in the same order. What that parser would do
// otherwise (a DOCTYPE; a comment or processing instruction once ET.Element
// is replaced, as ElementTree's factories build Elements for them), a
// prefixed attribute of a name the records read, and any error, a parse
// error or one of the records' steps, leave the text to the ordinary steps
// from the start, which raise their own errors. The one
// error raised here is the RecursionError that the same count of levels
// gives the ordinary steps at the same element, once the whole text parsed.
bool fast_path_applies(const Args &a, py::handle self, py::handle text) {
    if (!parts.module || !PyUnicode_CheckExact(text.ptr())) return false;
    PyObject *et = lookup(a.globals().ptr(), "ET"_n);
    if (et != parts.module || Py_TYPE(et) != &PyModule_Type) return false;
    PyObject *d = PyModule_GetDict(et);
    PyObject *fromstring = lookup(d, "fromstring"_n);
    if (fromstring != parts.fromstring || PyFunction_GET_CODE(fromstring) != parts.fromstring_code ||
        PyFunction_GET_DEFAULTS(fromstring) != parts.fromstring_defaults)
        return false;
    if (!is_own(d, "XMLParser"_n, parts.xml_parser) || !is_own(d, "TreeBuilder"_n, parts.tree_builder) ||
        !is_own(d, "ParseError"_n, parts.parse_error))
        return false;
    return finds_own_method(self, "_parse_xml_node"_n, kParseXmlNode) &&
           finds_own_method(self, "_parse_bounds"_n, kParseBounds);
}

// A str of expat's UTF-8 text, as ElementTree decodes attribute values.
py::object decoded(const char *s) {
    PyObject *r = PyUnicode_DecodeUTF8(s, (Py_ssize_t)std::strlen(s), "strict");
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

py::object text_or_empty(const char *s) { return s && *s ? decoded(s) : py::reinterpret_borrow<py::object>(""_n); }

// _parse_bounds(attrs.get("bounds", "")) inside that call.
py::object bounds_from(const char *s) {
    if (!s || !*s) return zeros();
    py::list coords;
    if (plain_bounds(s, coords)) return coords;
    return bounds_of(decoded(s));
}

// int(attrs.get("index", "0"))
py::object index_from(const char *s) {
    if (!s) return new_int(0);
    long long v;
    if (digits_value(s, (Py_ssize_t)std::strlen(s), v)) return new_int(v);
    return to_int(decoded(s));
}

// Builds the records as expat reports the elements, counting a level of
// recursion for each open element and for each _parse_bounds call as the
// ordinary steps do.
class Builder {
public:
    enum State { Building, Raised, Fallback };

    State state() const { return state_; }
    py::object root() const { return root_; }
    py::error_already_set &raised() { return *raised_; }

    ~Builder() { leave_all(); }

    static void on_start(void *b, const char *, const char **atts) {
        static_cast<Builder *>(b)->step([&](Builder &self) { self.start(atts); });
    }
    static void on_end(void *b, const char *) {
        static_cast<Builder *>(b)->step([](Builder &self) { self.end(); });
    }
    // Also once a RecursionError waits: the ordinary steps would call the
    // factories before they reach it.
    static void on_comment(void *b, const char *) {
        auto &self = *static_cast<Builder *>(b);
        if (self.state_ != Fallback) self.guarded([](Builder &s) { s.check_factories(); });
    }
    static void on_pi(void *b, const char *, const char *) { on_comment(b, nullptr); }
    static void on_doctype(void *b, const char *, const char *, const char *, int) {
        static_cast<Builder *>(b)->stop(Fallback);
    }

private:
    // Runs one step of building.
    template <class Step>
    void step(Step work) {
        if (state_ == Building) guarded(work);
    }

    // Runs `work`; no exception goes back into expat.
    template <class Step>
    void guarded(Step work) {
        try {
            work(*this);
        } catch (py::error_already_set &) {
            stop(Fallback);
        } catch (std::bad_alloc &) {
            stop(Fallback);
        }
    }

    void start(const char **atts) {
        if (!RecursionGuard::enter(kWhere)) return raise_now();
        ++held_;
        const char *values[AttrCount] = {};
        const char *bounds = nullptr;
        for (; atts[0]; atts += 2) {
            const char *name = atts[0];
            std::size_t n = 0, local = 0;  // "uri}name" for a prefixed name
            for (; name[n]; ++n)
                if (name[n] == '}') local = n + 1;
            const std::string_view key(name + local, n - local);
            const int i = key == "bounds" ? AttrCount : attr_of(key);
            if (i < 0) continue;
            if (local) return stop(Fallback);  // "{uri}name" is never read, but left to the ordinary steps
            (i == AttrCount ? bounds : values[i]) = atts[1];
        }
        py::object coords;
        {
            if (!RecursionGuard::enter(kWhere)) return raise_now();
            struct Leave {
                ~Leave() { RecursionGuard::leave(); }
            } leave;
            coords = bounds_from(bounds);
        }
        py::dict record = new_record(flag_bits([&](int a) {
            return values[a] ? std::optional(std::strcmp(values[a], "true") == 0) : std::nullopt;
        }));
        put(record, "class"_n, text_or_empty(values[Class]));
        put(record, "text"_n, text_or_empty(values[Text]));
        put(record, "resource_id"_n, text_or_empty(values[ResourceId]));
        put(record, "content_desc"_n, text_or_empty(values[ContentDesc]));
        put(record, "package"_n, text_or_empty(values[Package]));
        put(record, "bounds"_n, coords);
        put(record, "index"_n, index_from(values[Index]));
        py::list children;
        put(record, "children"_n, children);
        if (open_.empty()) {
            root_ = record;
        } else if (PyList_Append(open_.back(), record.ptr()) < 0) {
            throw py::error_already_set();
        }
        open_.push_back(children.ptr());  // kept alive by the record
    }

    void end() {
        open_.pop_back();
        RecursionGuard::leave();
        --held_;
    }

    void check_factories() {
        if (!is_own(PyModule_GetDict(parts.module), "Element"_n, parts.element)) stop(Fallback);
    }

    void raise_now() {
        raised_.emplace();
        stop(Raised);
    }

    void stop(State state) {
        leave_all();
        state_ = state;
    }

    void leave_all() {
        for (; held_ > 0; --held_) RecursionGuard::leave();
    }

    State state_ = Building;
    int held_ = 0;  // recursion levels entered and not yet left
    py::object root_;
    std::vector<PyObject *> open_;  // the children list of each open element
    std::optional<py::error_already_set> raised_;
};

// Automatic collections wait while the records are built (no Python code
// runs in between): one collection of the new tree afterwards costs far less
// than the many its growing young objects would trigger on the way.
class CollectionsPaused {
public:
#if PY_VERSION_HEX >= 0x030A0000
    CollectionsPaused() : enabled_(PyGC_Disable()) {}
    ~CollectionsPaused() {
        park_if_ended();
        if (enabled_) PyGC_Enable();
    }
#else
    CollectionsPaused() : enabled_(gc_call("isenabled")) {
        if (enabled_) gc_call("disable");
    }
    ~CollectionsPaused() {
        park_if_ended();
        if (enabled_) gc_call("enable");
    }

private:
    // gc.<name>() is True; these calls cannot fail.
    static bool gc_call(const char *name) {
        static PyObject *const gc = PyImport_ImportModule("gc");
        PyObject *r = gc ? PyObject_CallMethod(gc, name, nullptr) : nullptr;
        if (!r) PyErr_Clear();
        Py_XDECREF(r);
        return r == Py_True;
    }
#endif

private:
    bool enabled_;
};

}  // namespace

bool records_from_xml(const Args &a, py::handle self, py::handle text, py::object &hierarchy) {
    if (!fast_path_applies(a, self, text)) return false;
    Py_ssize_t size;
    const char *data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!data) {
        PyErr_Clear();  // not encodable: ElementTree raises that again
        return false;
    }
    if (size > INT_MAX) return false;
    const ExpatApi &x = *parts.expat;
    std::unique_ptr<XML_ParserStruct, void (*)(Parser)> parser(x.ParserCreate_MM(nullptr, &kMemory, "}"),
                                                               x.ParserFree);
    if (!parser) return false;
    Builder b;
    Parser p = parser.get();
    x.SetUserData(p, &b);
    x.SetElementHandler(p, Builder::on_start, Builder::on_end);
    x.SetCommentHandler(p, Builder::on_comment);
    x.SetProcessingInstructionHandler(p, Builder::on_pi);
    x.SetStartDoctypeDeclHandler(p, Builder::on_doctype);
    x.SetUnknownEncodingHandler(p, x.DefaultUnknownEncodingHandler, nullptr);
    x.SetEncoding(p, "utf-8");
    bool parsed;
    {
        CollectionsPaused paused;
        parsed = x.Parse(p, data, (int)size, 0) && x.Parse(p, "", 0, 1);
    }
    if (!parsed || b.state() == Builder::Fallback) return false;
    if (b.state() == Builder::Raised) throw b.raised();
    hierarchy = b.root();
    return true;
}

void load_element_tree_parts() {
    // Anything unexpected leaves the fast path off.
    PyObject *module = PyImport_GetModule("xml.etree.ElementTree"_n.ptr());
    PyObject *accelerator = PyImport_ImportModule("_elementtree");
    const void *capsule = PyCapsule_Import("pyexpat.expat_CAPI", 0);
    PyErr_Clear();
    const py::object m = py::reinterpret_steal<py::object>(module), c = py::reinterpret_steal<py::object>(accelerator);
    if (!module || !accelerator || !capsule || Py_TYPE(module) != &PyModule_Type) return;
    const auto *expat = static_cast<const ExpatApi *>(capsule);
    if (std::strcmp(expat->magic, "pyexpat.expat_CAPI 1.1") != 0 || expat->size < (int)sizeof(ExpatApi)) return;
    PyObject *d = PyModule_GetDict(module), *cd = PyModule_GetDict(accelerator);
    PyObject *fromstring = lookup(d, "fromstring"_n);
    if (!fromstring || !PyFunction_Check(fromstring) || PyFunction_GET_GLOBALS(fromstring) != d ||
        lookup(d, "XML"_n) != fromstring)
        return;
    ElementTreeParts found{module, fromstring, PyFunction_GET_CODE(fromstring), PyFunction_GET_DEFAULTS(fromstring)};
    const py::handle names[] = {"XMLParser"_n, "TreeBuilder"_n, "ParseError"_n, "Element"_n};
    PyObject **slots[] = {&found.xml_parser, &found.tree_builder, &found.parse_error, &found.element};
    for (int i = 0; i < 4; ++i) {
        *slots[i] = lookup(cd, names[i]);
        if (!*slots[i] || lookup(d, names[i]) != *slots[i]) return;
    }
    found.expat = expat;
    // Kept for the life of the process.
    for (PyObject *o : {found.module, found.fromstring, found.fromstring_code, found.xml_parser, found.tree_builder,
                        found.parse_error, found.element})
        Py_INCREF(o);
    Py_XINCREF(found.fromstring_defaults);
    parts = found;
}

}  // namespace zv::pellora
