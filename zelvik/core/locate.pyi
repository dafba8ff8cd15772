"""
定位检查模块
按uiautomator2的匹配规则统计选择器的匹配数，并生成元素的XPath
"""

from typing import Any, Dict, Literal, Union

from zelvik.core.pellora import _Element
from zelvik.core.zantho import SelectorRecord

_Selector = Union[SelectorRecord, Dict[str, Any]]
_Kind = Literal["relative", "full", "uiautomator2"]

class TreeIndex:
    """元素树索引：一次读取，多次统计匹配数和生成XPath

    ``tree`` is a tree of UI element records (``UIAnalyzer`` records: 19
    keys, ``children`` nested), its top record being the dump's
    ``<hierarchy>`` element. The tree is read once, when the index is
    built; the index then answers each question with a hash lookup, so
    counting every selector of every element stays linear in the tree's
    size. The tree must not change while the index is in use.

    Records must be exact dicts. Of each record only ``resource_id``,
    ``text``, ``content_desc``, ``class`` (strs; a missing key counts as
    "") and ``children`` (a list; missing means none) are read. Anything
    else raises TypeError; a tree deeper than the recursion limit raises
    RecursionError.
    """

    def __init__(self, tree: _Element) -> None: ...
    def count_matches(self, selector_record: _Selector) -> int:
        """统计选择器在树中匹配的元素数量

        How many elements the selector's uiautomator2 query matches, by the
        device's UiSelector rules: ``resourceId``, ``text``,
        ``description`` and ``className`` (alone, or two combined) equal
        the element's attribute exactly; ``textContains`` is contained in
        the element's text, both lower-cased. The query is read from the
        record's ``code``, a call ``d(name="literal", ...)`` whose string
        literals are decoded as Python decodes them; the text there is the
        stripped one, so a text selector of an element whose text has
        blanks around it counts 0. The top record (``<hierarchy>``) is not
        a node of the device and is never counted. A ``coordinate`` record
        counts 1. ValueError for an unknown ``type`` or a ``code`` that is
        not such a query; TypeError when ``type`` or ``code`` is not a str.
        """
    def xpath_for(self, element: _Element, kind: _Kind = "relative") -> str:
        """生成元素的XPath

        The XPath, on the dump the tree was read from, that selects exactly
        ``element`` (found by identity, else as the first record equal to
        it in pre-order; ValueError when it is not in the tree).

        ``kind="full"``: ``/hierarchy/node[i]/node[j]/...``, one position
        per level. ``kind="relative"``: the shortest XPath of the first of
        these tiers that has one: (1) ``//*[@resource-id='v'][@class='w']``
        from the element's own non-empty resource-id, text, content-desc and
        class, when they select it alone; (2) a rank among the elements
        holding some of them, ``(//*[@text='OK'])[2]``, or the steps down
        from an ancestor that form (1) selects,
        ``//*[@resource-id='v']/*[2]/*``; (3) positions alone,
        ``(//*)[7]`` or ``/hierarchy/*[2]/*``. Values are quoted with ' or
        ", or as ``concat()`` when they hold both. The top record gives
        ``/hierarchy``.

        ``kind="uiautomator2"``: the relative XPath for ``d.xpath()``, which
        evaluates it on uiautomator2's page source, where every ``<node>``
        is renamed after its class and the class attribute is gone (so
        ``@class`` and ``node`` steps of the other kinds find nothing
        there), and U+200B to U+200F and U+FEFF are removed: built the same
        way without class predicates and without values holding those
        characters. ValueError for any other ``kind``.
        """

def count_matches(tree: _Element, selector_record: _Selector) -> int:
    """统计选择器在树中匹配的元素数量

    ``TreeIndex(tree).count_matches(selector_record)``.
    """

def xpath_for(tree: _Element, element: _Element, kind: _Kind = "relative") -> str:
    """生成元素的XPath

    ``TreeIndex(tree).xpath_for(element, kind)``.
    """
