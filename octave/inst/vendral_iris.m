%VENDRAL_IRIS  The Iris data shipped with vendral: 150 flowers, 3 classes.
%
%  [X, y] = vendral_iris ()
%  [X, y, names] = vendral_iris ()
%
%  X is the 150-by-4 matrix of measurements in centimetres (sepal length,
%  sepal width, petal length, petal width), y the 150-by-1 class labels
%  1 (setosa), 2 (versicolor) and 3 (virginica), names the column names.
%  The data come from iris.csv next to this file (package and build folder)
%  or from data/iris.csv of the vendral source tree.
%
%  Example
%    [X, y] = vendral_iris ();
%    labels = vendral (X, y, 0, 2, 0.5, X, -1, 0);
%    mean (labels == y)
%
%  See also vendral, vendral_select_h.

function [X, y, names] = vendral_iris ()
  file = iris_file ();
  values = csvread (file, 1, 0);
  X = values(:, 1:4);
  y = values(:, 5);
  if nargout > 2
    fid = fopen (file, 'r');
    header = fgetl (fid);
    fclose (fid);
    names = strsplit (header, ',');
    names = names(1:4);
  end
end

function file = iris_file ()
  here = fileparts (mfilename ('fullpath'));
  candidates = {fullfile(here, 'iris.csv'), ...
                fullfile(here, '..', '..', 'data', 'iris.csv'), ...
                fullfile(here, '..', 'data', 'iris.csv')};
  for k = 1:numel (candidates)
    if exist (candidates{k}, 'file')
      file = candidates{k};
      return;
    end
  end
  error ('vendral_iris:noData', 'vendral_iris: iris.csv not found next to %s', ...
         mfilename ('fullpath'));
end
