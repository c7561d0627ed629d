// Placeholder entry point; start-up proper is being written.
int main()
{
    return 0;
}
