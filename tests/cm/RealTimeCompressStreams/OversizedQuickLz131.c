/* A QuickLZ131.dll whose compression scratch is larger than the work area the streams pass:
   its load must fail the size check. Only the entries the loader requires are real. */
#define QLZ_API __stdcall

int QLZ_API qlz_compress(const void *Source, char *Destination, int Size, void *State)
{
    (void)Source; (void)Destination; (void)Size; (void)State;
    return 0;
}

int QLZ_API qlz_decompress(const char *Source, void *Destination, void *State)
{
    (void)Source; (void)Destination; (void)State;
    return 0;
}

int QLZ_API qlz_get_setting(int Setting)
{
    return Setting == 1 ? 40000 : Setting == 2 ? 16 : -1;
}
