"""Zelvik: Android UI inspection and automation workbench."""
__version__ = "0.1.0"
