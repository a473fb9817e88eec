"""tavo.core.utils.get_color_from_hex_255."""
import pytest
from hypothesis import given, settings, strategies as st

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


@settings(max_examples=300, deadline=None)
@given(data=st.data(), size=st.sampled_from([3, 4, 6, 8]), hash_sign=st.booleans())
def test_each_pair_of_digits_reads_as_one_component(data, size, hash_sign):
    text = data.draw(st.text(alphabet="0123456789abcdefABCDEF", min_size=size, max_size=size))
    pairs = text if size > 4 else "".join(digit * 2 for digit in text)
    components = [int(pairs[i:i + 2], 16) for i in range(0, len(pairs), 2)]
    expected = components[:3] + [alpha / 255 for alpha in components[3:]]
    assert get_color_from_hex_255("#" * hash_sign + text) == expected
