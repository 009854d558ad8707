// Defaults of the sanitizers' runtime in every fuzzer; ASAN_OPTIONS given by
// hand still override them.
//
// No allocation stacks: recording one for every allocation took about a sixth
// of each input's time. A report still shows where the bad access happened;
// to see where the memory was allocated and freed as well, run the saved
// input again with ASAN_OPTIONS=malloc_context_size=30.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=0";
}
