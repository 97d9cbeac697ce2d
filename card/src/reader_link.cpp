// Reader link.
