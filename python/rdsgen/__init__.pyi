import os
from typing import Any, Iterable, Literal, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, os.PathLike]
_Colour = Union[int, Tuple[int, int, int], Sequence[int]]

pattern_types: dict[int, tuple[str, bool]]

class RdsgenWarning(UserWarning): ...

def stereogram(
    heights: npt.ArrayLike,
    *,
    pattern: Union[int, npt.ArrayLike] = ...,
    pattern_width: int | None = ...,
    pattern_stripes: int | None = ...,
    depth: int = ...,
    position: Union[Literal["left", "centre", "center", "right"], int] = ...,
    density: int = ...,
    seed: int | None = ...,
    focus_marks: Union[Literal["none", "above", "in"], int] = ...,
    top_foreground: _Colour | None = ...,
    bottom_foreground: _Colour | None = ...,
    top_background: _Colour | None = ...,
    bottom_background: _Colour | None = ...,
    stretch: str | None = ...,
    random_dots: bool = ...,
    colour: bool = ...,
    vinc: bool = ...,
    invert: bool = ...,
    cut_off: bool = ...,
    hidden: bool = ...,
    double: bool = ...,
    width: int | None = ...,
    range: Union[Tuple[float, float], Literal["auto"], None] = ...,
    threads: int = ...,
) -> npt.NDArray[np.uint8]: ...

def animate(
    frames: Iterable[npt.ArrayLike],
    path: _Path | None = ...,
    *,
    format: Literal["apng", "gif", "png-stream"] = ...,
    rate: int = ...,
    dots: Literal["same", "new"] = ...,
    seed: int | None = ...,
    threads: int = ...,
    range: Union[Tuple[float, float], Literal["auto"], None] = ...,
    **options: Any,
) -> bytes | None: ...

def read(path: _Path) -> Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16], npt.NDArray[np.uint32]]: ...

def write(path: _Path, image: npt.ArrayLike) -> None: ...
