"""`python -m zelvik` and the `zelvik` command: the workbench."""
from zelvik.workbench.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
