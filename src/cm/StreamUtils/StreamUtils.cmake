# StreamUtils sources/tests (see the unit's headers)
