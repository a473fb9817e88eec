"""Small helpers of the property system."""

_HEX_DIGITS = frozenset("0123456789abcdefABCDEF")
_SIZES = frozenset((3, 4, 6, 8))


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
        # Written out per form: this runs for every colour text assigned.
        number = int(digits, 16)
        if size == 6:
            return [number >> 16, number >> 8 & 255, number & 255]
        if size == 8:
            return [number >> 24, number >> 16 & 255, number >> 8 & 255, (number & 255) / 255]
        # One digit a component: f stands for ff, 0xf * 17 == 0xff.
        if size == 3:
            return [(number >> 8) * 17, (number >> 4 & 15) * 17, (number & 15) * 17]
        return [(number >> 12) * 17, (number >> 8 & 15) * 17, (number >> 4 & 15) * 17, (number & 15) * 17 / 255]
    raise ValueError(
        f"not a hex colour text (got {text!r}): give #rgb, #rgba, #rrggbb or #rrggbbaa"
        " in hex digits, the # optional"
    )
