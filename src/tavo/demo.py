"""A few components declared with tavo's HTML attribute classes, rendered as HTML.

Run with ``python -m tavo.demo``.
"""
from tavo.core._attributes import (
    _Attribute,
    _BooleanAttribute,
    _BoundedNumericAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
    _ListAttribute,
    _LogicalAttribute,
    _NumericAttribute,
    _VariableListAttribute,
)
from tavo.core._event import EventDispatcher


def click_handler(obj, name, prevent_default, event_args, event_js, dispatch):
    """Renders the script of a click: notify the server, then run the extra code."""
    code = f"tavo.send('{type(obj).__name__}', '{name}', {event_args!r});"
    if prevent_default:
        code = "event.preventDefault();" + code
    return code + event_js


class Button(EventDispatcher):
    tag = "button"
    onclick = _GenericEventAttribute(
        True, click_handler, prevent_default=True, eventjs="this.blur();", attrtype="element"
    )
    disabled = _BooleanAttribute(False, attrtype="element")
    aria_pressed = _LogicalAttribute(False, attrtype="element")
    type = _Attribute("button", attrtype="element", options=["button", "submit", "reset"])


class TextBox(EventDispatcher):
    tag = "input"
    width = _NumericAttribute(200, units="px", attrtype="style", options=["auto", "inherit"])
    font_size = _NumericAttribute("12pt", attrtype="style")
    margin = _VariableListAttribute([0, 0, 0, 0], attrtype="style", options=["inherit"])
    opacity = _BoundedNumericAttribute(1.0, min=0.0, max=1.0, attrtype="style")
    read_only = _BooleanAttribute(False, attrtype="element", attrname="readonly")


class Panel(EventDispatcher):
    tag = "div"
    background_color = _ColorAttribute("#f0f0f0", attrtype="style", format="css")
    color = _ColorAttribute([0, 0, 128], attrtype="style", format="css")
    classes = _ListAttribute(["panel"], attrtype="class", attrname="class")


def attributes_of(component):
    """The attribute objects a component's class declares, by kind."""
    found = {"style": [], "class": [], "element": []}
    for klass in reversed(type(component).__mro__):
        for value in vars(klass).values():
            if hasattr(value, "attrvalue") and hasattr(value, "attrtype"):
                found.setdefault(value.attrtype, []).append(value)
    return found


def render(component):
    """The HTML start tag of a component, built from attrname, attrtype and attrvalue."""
    kinds = attributes_of(component)
    parts = [component.tag]
    style = "; ".join(
        f"{attr.attrname}: {value}" for attr in kinds["style"] if (value := attr.attrvalue(component)) != ""
    )
    if style:
        parts.append(f'style="{style}"')
    classes = " ".join(str(attr.attrvalue(component)) for attr in kinds["class"])
    if classes.strip():
        parts.append(f'class="{classes.replace(", ", " ")}"')
    for attr in kinds["element"] + kinds.get("", []):
        value = attr.attrvalue(component)
        if value == "":
            continue
        if isinstance(attr, _BooleanAttribute):
            parts.append(str(value))
        else:
            parts.append(f'{attr.attrname}="{value}"')
    return "<" + " ".join(parts) + ">"


def main():
    button, box, panel = Button(), TextBox(), Panel()
    print("As declared:")
    for component in (button, box, panel):
        print("  " + render(component))

    print("\nAfter assigning values the way a user would:")
    box.width = "50%"
    box.font_size = (14, "px")
    box.margin = "10px 20px"
    box.opacity = 0.75
    box.read_only = True
    button.disabled = True
    button.aria_pressed = True
    button.type = "submit"
    panel.background_color = [255, 128, 0, 0.5]
    panel.classes.append("highlighted")
    for component in (button, box, panel):
        print("  " + render(component))

    print("\nValues the attributes refuse:")
    for component, name, value in [
        (button, "type", "image"),
        (box, "width", True),
        (box, "margin", "1px 2px 3px"),
        (box, "opacity", 1.5),
        (panel, "color", [1, 2]),
    ]:
        try:
            setattr(component, name, value)
        except ValueError as error:
            print(f"  {type(component).__name__}.{name} = {value!r}: {error}")


if __name__ == "__main__":
    main()
