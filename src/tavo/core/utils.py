"""Small helpers of the property system."""

_HEX_DIGITS = frozenset("0123456789abcdefABCDEF")
_SIZES = frozenset((3, 4, 6, 8))
# The shift of each component's digits in the text read as one number.
_SHORT_SHIFTS = {3: (8, 4, 0), 4: (12, 8, 4, 0)}
_LONG_SHIFTS = {6: (16, 8, 0), 8: (24, 16, 8, 0)}


def get_color_from_hex_255(text: object) -> list[float] | None:
    """Colour components of a hex colour text.

    ``#rgb``, ``#rgba``, ``#rrggbb`` and ``#rrggbbaa`` in either case (the
    ``#`` optional) give ``[r, g, b]`` as ints 0..255, followed by the alpha as
    a float ``a / 255`` when the text has one. Any other text (a colour name
    such as ``orange``, ``#12345``, ``""``) raises ValueError: a colour the
    browser cannot read is refused rather than stored. A value that is not a
    str gives None.
    """
    if not isinstance(text, str):
        return None
    digits = text[1:] if text[:1] == "#" else text
    size = len(digits)
    # The digits are checked first: int() alone would also take "_", "+",
    # blanks and other scripts' digits.
    if size in _SIZES and _HEX_DIGITS.issuperset(digits):
        number = int(digits, 16)
        components: list[float]
        if size < 6:  # one digit a component: f stands for ff
            components = [(number >> shift & 15) * 17 for shift in _SHORT_SHIFTS[size]]
        else:
            components = [number >> shift & 255 for shift in _LONG_SHIFTS[size]]
        if len(components) == 4:
            components[3] = components[3] / 255
        return components
    raise ValueError(
        f"not a hex colour text (got {text!r}): give #rgb, #rgba, #rrggbb or #rrggbbaa"
        " in hex digits, the # optional"
    )
