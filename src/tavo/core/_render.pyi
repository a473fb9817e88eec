"""A component's HTML start tag from the attributes its class declares (native part of tavo.html)."""
from tavo.core._event import EventDispatcher

def start_tag(component: EventDispatcher, tag: str, /) -> str:
    """The HTML start tag of component (an EventDispatcher) as element tag, from the attribute
    objects its class declares. See tavo.html for the rules."""
