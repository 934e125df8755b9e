// Keeps the shared tool library non-empty while tool/ holds only entry points.
