"""The subcommands of `zelvo`: one module each, with `register(subparsers, common)` and
`run(args) -> int`."""
