# Lists sources/tests (see the unit's headers)
