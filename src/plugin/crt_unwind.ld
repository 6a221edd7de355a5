/* Added to the linker's own script for the 32-bit plug-ins. The plug-in is
   built without exceptions and without unwind tables, so nothing ever
   unwinds through the startup code and helpers of the C runtime and of
   libgcc: their unwind entries are dropped (about 1.3 KB). crtbegin.o's
   own entries stay, for the frame registration that starts at them, and
   crtend.o's end marker with them. */
SECTIONS
{
  /DISCARD/ : {
    *dllcrt2.o(.eh_frame)
    *libmingw32.a:*(.eh_frame)
    *libmingwex.a:*(.eh_frame)
    *libmsvcrt.a:*(.eh_frame)
    *libgcc.a:*(.eh_frame)
  }
}
INSERT BEFORE .text;
