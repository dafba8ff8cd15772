"""Zelvik: Android UI inspection and automation workbench."""
