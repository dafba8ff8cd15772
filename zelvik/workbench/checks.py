"""What the workbench shows for one element of a capture: the generated
code, each selector's match count on the captured tree, and the XPaths."""
from dataclasses import dataclass
from typing import List

from .errors import core


@dataclass
class ElementChecks:
    code: dict  # the element code result
    matches: List[int]  # per selector of code["selectors"]
    xpath: str  # relative, in the form uiautomator2's d.xpath evaluates
    full_xpath: str  # /hierarchy/node[i]/..., on the dump text


class Checker:
    """One locate index per captured tree, shared by all its elements."""

    def __init__(self, hierarchy: dict):
        self.index = core("locate").TreeIndex(hierarchy)
        self.generator = core("zantho").CodeGenerator()

    def check(self, element: dict) -> ElementChecks:
        code = self.generator.generate_element_code(element)
        return ElementChecks(code, [self.index.count_matches(s) for s in code["selectors"]],
                             self.index.xpath_for(element, "uiautomator2"), self.index.xpath_for(element, "full"))
