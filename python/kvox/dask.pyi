import os
from dataclasses import dataclass
from typing import Any, List, Tuple, Union

@dataclass
class Summary:
    converted: List[str] = ...
    skipped: List[str] = ...
    failed: List[Tuple[str, str]] = ...
    @property
    def ok(self) -> bool: ...

def list_tree(src: str, dst: str, to: str) -> Tuple[List[Tuple[str, str]], List[Tuple[str, str]]]: ...
def convert_tree(
    client: Any,
    src: Union[str, os.PathLike[str]],
    dst: Union[str, os.PathLike[str]],
    to: str = ...,
    partition_size: int = ...,
    *,
    coding: Union[str, None] = ...,
    tag: bool = ...,
) -> Summary: ...
