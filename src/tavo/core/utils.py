"""Small helpers of the property system."""

_HEX_DIGITS = frozenset("0123456789abcdefABCDEF")


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
    digits = text[1:] if text.startswith("#") else text
    if len(digits) in (3, 4):
        digits = "".join(digit * 2 for digit in digits)
    if len(digits) not in (6, 8) or not _HEX_DIGITS.issuperset(digits):
        raise ValueError(
            f"not a hex colour text (got {text!r}): give #rgb, #rgba, #rrggbb or #rrggbbaa"
            " in hex digits, the # optional"
        )
    components: list[float] = [int(digits[i : i + 2], 16) for i in range(0, len(digits), 2)]
    if len(components) == 4:
        components[3] = components[3] / 255
    return components
