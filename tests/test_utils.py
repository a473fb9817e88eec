"""tavo.core.utils.get_color_from_hex_255."""
import pytest

from tavo.core.utils import get_color_from_hex_255


@pytest.mark.parametrize(
    "text, components",
    [
        ("#ff8000", [255, 128, 0]),
        ("ff8000", [255, 128, 0]),
        ("#FfA0b1", [255, 160, 177]),
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
    "value",
    ["", "#", "##fff", "#ff", "#fffff", "#fffffffff", "#ggg", " #fff", "#fff ", "#-1f", "#１２３", "#0x1", None, 0xFFF, b"#fff", ["#fff"]],
)
def test_anything_else_gives_none(value):
    assert get_color_from_hex_255(value) is None
