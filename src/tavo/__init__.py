"""tavo: components of a web user interface, rendered as HTML in a browser."""
