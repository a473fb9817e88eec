"""Core of tavo: the property system and the HTML attribute classes."""
