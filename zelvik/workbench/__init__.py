"""The Zelvik command-line workbench, on top of the four core modules."""
