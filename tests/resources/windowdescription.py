"""Reads the program's window description format (resources/WindowDescription.md) in Python,
independently of the program's own reader, so that a test can parse back what the exe carries."""


def parse(text):
    lines = [line.rstrip("\r") for line in text.split("\n")]
    meaningful = [(n + 1, line.lstrip(" \t")) for n, line in enumerate(lines)
                  if line.strip(" \t") and not line.lstrip(" \t").startswith("#")]
    if not meaningful or meaningful[0][1] != "trimbolt-window 1":
        raise ValueError("not a window description")
    form = None
    stack = []
    for number, line in meaningful[1:]:
        key, _, value = line.partition(" ")
        if key in ("form", "component"):
            name, cls = value.split(" ")
            block = {"name": name, "class": cls, "properties": {}, "components": []}
            if key == "form":
                if form is not None or stack:
                    raise ValueError(f"line {number}: a second form")
                form = block
            else:
                if len(stack) != 1:
                    raise ValueError(f"line {number}: a component outside the form")
                stack[-1]["components"].append(block)
            stack.append(block)
        elif key == "end" and not value:
            if not stack:
                raise ValueError(f"line {number}: 'end' without a block")
            stack.pop()
        else:
            if not stack:
                raise ValueError(f"line {number}: text outside the form")
            props = stack[-1]["properties"]
            if key in props:
                raise ValueError(f"line {number}: '{key}' given twice")
            props[key] = value
    if form is None or stack:
        raise ValueError("the description does not close its form")
    return form
