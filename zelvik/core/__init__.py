"""Zelvik core: the native modules ostrel, pellora, mirvane and zantho."""
