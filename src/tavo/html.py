"""HTML from tavo components.

``start_tag(component, tag)`` gives the HTML start tag of a component: the
element ``tag`` with the attributes that the attribute objects of the
component's class render for it::

    from tavo.core._attributes import _Attribute, _BooleanAttribute, _NumericAttribute
    from tavo.core._event import EventDispatcher
    from tavo.html import start_tag

    class Card(EventDispatcher):
        id = _Attribute("", attrtype="element")
        width = _NumericAttribute(240, units="px", attrtype="style")
        hidden = _BooleanAttribute(False, attrtype="element")

    card = Card(id="intro")
    card.hidden = True
    start_tag(card, "div")  # '<div id="intro" style="width: 240px" hidden>'

The rules:

- Which attributes: the instances of the attribute classes of
  ``tavo.core._attributes`` (or of Python subclasses of them) that the class
  finds under the names its class bodies define, in declaration order: the
  class bodies along the reversed MRO, base classes first, each name at the
  place where it was first defined. A subclass that redefines a name puts its
  own attribute at the base's place; one that redefines it as anything else
  leaves it out. Other properties and class attributes are not rendered.
- Each attribute goes where its ``attrtype`` says; an attribute whose
  ``attrtype`` is none of the three words below is not rendered (and its
  ``attrvalue`` not called). ``attrtype`` and ``attrname`` are read as
  attributes of the attribute object, so a Python subclass may redefine them.
- Each is rendered by ``attr.attrvalue(component)``, so a Python subclass's
  ``attrvalue`` is called in place of the class's own. A rendering of None,
  or one whose text is empty, adds nothing; any other rendering that is not a
  str is turned into text by ``str()``.
- ``"style"``: one ``style`` attribute of ``name: value`` declarations (the
  attribute's page name, ``attrname``, and its rendering) joined by ``"; "``,
  placed where the first attribute that adds to it stands. A rendering must
  stay its declaration's value: one that holds ``;``, ``{`` or ``}`` outside
  quotes and brackets, a quote or bracket it does not close (or one that closes
  nothing), a line break inside quotes, or ``/*`` outside quotes, is a
  ValueError naming the component class and the property
  (``url(data:image/png;base64,...)`` and quoted font names stay valid).
- ``"class"``: one ``class`` attribute of the renderings joined by single
  spaces, placed likewise; a rendering that holds items separated by ``", "``
  (a list attribute's) adds each non-empty item.
- ``"element"``: ``name="value"`` with the page name; a ``_BooleanAttribute``
  appears as its bare page name while its rendering is not empty (its value
  is true).
- Every value is escaped for a double-quoted attribute as
  ``html.escape(value, quote=True)`` does (``& < > " '``).
- The page names of style and element attributes must be valid HTML
  attribute names (non-empty, without whitespace or other controls, ``"``,
  ``'``, ``>``, ``/``, ``=`` or noncharacters), and no attribute of the tag may
  come from two places: two element attributes of one page name, or an
  element attribute named ``style`` or ``class`` beside attributes of that
  ``attrtype``. Otherwise a ValueError names the properties. These names are
  checked for every attribute that would be rendered, whatever its value.
- ``tag`` must be a str that starts with an ASCII letter and holds no
  whitespace, controls, ``"``, ``'``, ``<``, ``>``, ``/``, ``=`` or
  noncharacters; ``component`` an instance of an ``EventDispatcher``
  subclass. Otherwise a ValueError or TypeError.
- An exception raised while an attribute is read or rendered passes on
  unchanged, with a note naming the component's class and the property
  (``while rendering Card.width``).

The attributes a class declares are found once per class and found again
after the class or one of its bases changes.

A live page
-----------

``Page`` keeps the components shown in one browser page and tells what changed
on them since it last told::

    page = Page()
    html = page.start_tag(card, "div")  # '<div data-tavo-id="1" id="intro" ...>'
    card.width = "300px"
    page.updates()  # [tavo.core._render.Update(element='1', set={'style': 'width: 300.0px'}, remove=())]

- ``page.start_tag(component, tag)`` renders as ``start_tag`` does, with one
  attribute of the page's own first (``id_attribute``, ``data-tavo-id`` unless
  given) whose value identifies the element in the page. The first call puts
  the component on the page; a component is on one page at most, and a class
  that declares an element attribute of the identifier's page name is
  refused. What it returns counts as sent to the browser.
- ``page.updates()`` returns an ``Update(element, set, remove)`` for each
  element whose synced attributes render otherwise than they were last sent:
  the attributes to set, each to its text, and the names to remove. Synced are
  the style and class attributes (one ``style`` and one ``class`` text, whole,
  removed when empty) and the element attributes whose ``sync`` is non-zero
  (by page name; a true ``_BooleanAttribute`` is set to ``""``). Texts are
  not escaped: they are attribute values, for ``setAttribute``.
- Changes are recorded where values are stored: every assignment that changes
  a value (in an observer or an event handler too, a change of unit alone
  included), and every change of an ``ObservableList`` value in place. Several
  changes give one update with the latest text; a change back to what was sent
  gives none.
- Not recorded: a plain list value changed in place, a Python override of
  ``attrvalue``, ``get_value`` or ``get_units`` or a callable rendering that
  reads other state, an attribute re-initialised or redeclared on the class.
  After such a change, ``page.refresh(component)`` has the next ``updates()``
  render every synced attribute of the component and send what differs.
- A rendering that fails fails ``updates()`` with the note ``start_tag``
  gives; nothing counts as sent, so the next call returns every pending
  update again. While ``updates()`` runs, code run by a rendering cannot
  change the page (RuntimeError); what it assigns is recorded for the next
  call.
- ``page.element_id(component)``, ``page.component(element_id)``,
  ``page.components()``,
  ``len(page)``, ``component in page``; ``page.close()`` (or leaving a
  ``with`` block, or the page going) releases the components. Elements are
  not added to or moved in the browser's page by updates.
"""
from tavo.core._render import Page, Update, start_tag

__all__ = ["Page", "Update", "start_tag"]
