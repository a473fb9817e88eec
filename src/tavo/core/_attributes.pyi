"""HTML attribute classes: properties of a component that render the text sent to the page.

Each class extends one property class of `tavo.core.properties`; its objects
are declared as class attributes of an `EventDispatcher` subclass. `attrtype`
says where the value goes ("style", "class" or "element"), `attrname` gives
its name on the page, and `attrvalue(obj)` renders the owner's value.
"""
from collections.abc import Callable, Iterable
from typing import Any, Protocol, Self, overload

from typing_extensions import disjoint_base

from tavo.core._event import EventDispatcher
from tavo.core.properties import (
    CSS_LENGTH_UNITS as CSS_LENGTH_UNITS,
    BooleanProperty,
    BoundedNumericProperty,
    ListProperty,
    NumericProperty,
    ObservableList as ObservableList,
    Property,
    VariableListProperty,
)
from tavo.core.utils import get_color_from_hex_255 as get_color_from_hex_255

__all__ = (
    "_Attribute",
    "_NumericAttribute",
    "_BoundedNumericAttribute",
    "_BooleanAttribute",
    "_VariableListAttribute",
    "_ColorAttribute",
    "_GenericEventAttribute",
)

__test__: dict[Any, Any]

# A number, a unit text such as "10px" or "50%", or a (number, unit) pair.
_UnitValue = float | str | tuple[float, str] | list[float | str]
# One, two or four numbers or unit texts, or a text holding them separated by spaces.
_ListValue = float | str | list[float | str] | tuple[float | str, ...]
# Three or four components (red, green, blue 0..255, alpha), or a colour text such as "#ff8000".
_ColorValue = list[float] | tuple[float, ...] | str

class _EventRenderer(Protocol):
    def __call__(
        self,
        obj: Any,
        name: str,
        /,
        *,
        prevent_default: bool,
        event_args: Any,
        event_js: str,
        dispatch: bool,
    ) -> Any: ...

@disjoint_base
class _Attribute(Property):
    """A text attribute, optionally limited to `options`; `values` maps each option to the text rendered for it."""

    def __init__(
        self,
        defaultvalue: str | None = "",
        *,
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        options: Iterable[Any] = ...,
        values: Iterable[Any] = ...,
    ) -> None: ...
    @overload
    def __get__(self, instance: None, owner: type[Any] | None = None, /) -> Self: ...
    @overload
    def __get__(self, instance: EventDispatcher, owner: type[Any] | None = None, /) -> str | None: ...
    def __set__(self, instance: EventDispatcher, value: str | None, /) -> None: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    @property
    def sync(self) -> int: ...
    @property
    def options(self) -> list[Any]: ...
    @property
    def values(self) -> dict[Any, Any]: ...
    def attrvalue(self, obj: EventDispatcher | None) -> Any: ...

@disjoint_base
class _NumericAttribute(NumericProperty):
    """A number rendered with its CSS unit (`10.0px`), or one of `options` (such as "inherit") rendered as is."""

    def __init__(
        self,
        defaultvalue: _UnitValue | None = 0,
        /,
        *,
        units: str = "",
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        options: Iterable[Any] = ...,
    ) -> None: ...
    @overload
    def __get__(self, instance: None, owner: type[Any] | None = None, /) -> Self: ...
    @overload
    def __get__(self, instance: EventDispatcher, owner: type[Any] | None = None, /) -> float | str | None: ...
    def __set__(self, instance: EventDispatcher, value: _UnitValue | None, /) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    @property
    def options(self) -> list[Any]: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _BoundedNumericAttribute(BoundedNumericProperty):
    """A number between `min` and `max`, or one of `options`."""

    def __init__(
        self,
        defaultvalue: _UnitValue | None = 0,
        /,
        *,
        min: float | None = None,
        max: float | None = None,
        units: str = "",
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        options: Iterable[Any] = ...,
    ) -> None: ...
    @overload
    def __get__(self, instance: None, owner: type[Any] | None = None, /) -> Self: ...
    @overload
    def __get__(self, instance: EventDispatcher, owner: type[Any] | None = None, /) -> float | str | None: ...
    def __set__(self, instance: EventDispatcher, value: _UnitValue | None, /) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    @property
    def options(self) -> list[Any]: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _VariableListAttribute(VariableListProperty):
    """Margin, padding: one, two or four values expanded to four and rendered separated by spaces."""

    def __init__(
        self,
        defaultvalue: _ListValue | None = ...,
        /,
        *,
        length: int = 4,
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        options: Iterable[Any] = ...,
    ) -> None: ...
    @overload
    def __get__(self, instance: None, owner: type[Any] | None = None, /) -> Self: ...
    @overload
    def __get__(self, instance: EventDispatcher, owner: type[Any] | None = None, /) -> list[Any] | str | None: ...
    def __set__(self, instance: EventDispatcher, value: _ListValue | None, /) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    @property
    def options(self) -> list[Any]: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _BooleanAttribute(BooleanProperty):
    """An HTML boolean attribute (`disabled`): renders its page name while the value is true, else ""."""

    def __init__(
        self,
        defaultvalue: Any = False,
        /,
        *,
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        allownone: bool = False,
    ) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _LogicalAttribute(BooleanProperty):
    """A `true` / `false` attribute: renders "true", "false", or "" for None."""

    def __init__(
        self, defaultvalue: Any = False, /, *, attrtype: str | None = "", attrname: str | None = "", sync: int = 0
    ) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _ListAttribute(ListProperty):
    """A list rendered as its items separated by ", "; `length`, when given, is the required number of items."""

    def __init__(
        self,
        defaultvalue: Iterable[Any] | None = ...,
        /,
        *,
        length: int | None = None,
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
        allownone: bool = False,
    ) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _ColorAttribute(Property):
    """A colour from 3 or 4 components or a "#rrggbb" text; `format="css"` renders rgb()/rgba(), else 0..1 components."""

    def __init__(
        self,
        defaultvalue: _ColorValue | None = None,
        *,
        attrtype: str | None = "",
        attrname: str | None = "",
        format: str | None = "",
        sync: int = 0,
        options: Iterable[Any] = ...,
    ) -> None: ...
    @overload
    def __get__(self, instance: None, owner: type[Any] | None = None, /) -> Self: ...
    @overload
    def __get__(self, instance: EventDispatcher, owner: type[Any] | None = None, /) -> list[Any] | str | None: ...
    def __set__(self, instance: EventDispatcher, value: _ColorValue | None, /) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    def attrvalue(self, obj: EventDispatcher | None) -> str: ...

@disjoint_base
class _GenericEventAttribute(BooleanProperty):
    """An event attribute (`onclick`): while the value is true, renders the handler code.

    `eventhandler` is the code itself or a callable that renders it, called as
    ``eventhandler(obj, event_name, prevent_default=..., event_args=..., event_js=..., dispatch=...)``.
    """

    def __init__(
        self,
        defaultvalue: Any = False,
        eventhandler: str | _EventRenderer | Callable[..., Any] | None = None,
        prevent_default: Any = False,
        eventargs: Any = None,
        eventjs: Any = "",
        dispatch: Any = True,
        *,
        attrtype: str | None = "",
        attrname: str | None = "",
        sync: int = 0,
    ) -> None: ...
    @property
    def sync(self) -> int: ...
    @property
    def attrname(self) -> str: ...
    @property
    def attrtype(self) -> str | None: ...
    def attrvalue(self, obj: EventDispatcher | None) -> Any: ...
