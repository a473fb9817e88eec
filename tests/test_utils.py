"""tavo.core.utils.get_color_from_hex_255."""
import pytest

from tavo.core.utils import get_color_from_hex_255


@pytest.mark.parametrize(
    "text, components",
    [
        ("#ff8000", [255, 128, 0]),
        ("ff8000", [255, 128, 0]),
        ("#FfA0b1", [255, 160, 177]),
        ("#ABC", [170, 187, 204]),
        ("F80C", [255, 136, 0, 204 / 255]),
        ("#f80", [255, 136, 0]),
        ("000", [0, 0, 0]),
        ("#ff800080", [255, 128, 0, 128 / 255]),
        ("#f808", [255, 136, 0, 136 / 255]),
        ("#000000ff", [0, 0, 0, 1.0]),
        ("#00000000", [0, 0, 0, 0.0]),
    ],
)
def test_hex_texts(text, components):
    result = get_color_from_hex_255(text)
    assert result == components
    assert all(type(c) is int for c in result[:3])
    if len(result) == 4:
        assert type(result[3]) is float


@pytest.mark.parametrize(
    "text",
    ["", "#", "##fff", "#ff", "#12345", "#fffffffff", "#ggg", "#zzzzzz", "orange", " #fff", "#fff ", "#-1f",
     "#１２３", "#0x1"],
)
def test_other_texts_are_refused_with_the_accepted_forms(text):
    # These texts used to give None, which a colour property stored.
    with pytest.raises(ValueError) as info:
        get_color_from_hex_255(text)
    assert str(info.value) == (
        f"not a hex colour text (got {text!r}): give #rgb, #rgba, #rrggbb or #rrggbbaa in hex digits, the # optional"
    )


@pytest.mark.parametrize("value", [None, 0xFFF, b"#fff", ["#fff"]])
def test_values_that_are_not_texts_give_none(value):
    assert get_color_from_hex_255(value) is None
